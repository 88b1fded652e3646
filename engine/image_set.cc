#include "engine/image_set.h"

#include "engine/console.h"
#include "engine/image_file.h"

const ImageInfo kImageTable[kSlotCount] = {
    {"boot", "Boot code was missing!\n", 0x00000000, "\nBOOT CODE OK!"},
    {"almanac", "Almanac code was missing!\n", 0x00008000, "\nALMANAC   OK!"},
    {"app", "App code was missing!\n", 0x00010000, "\nAPP CODE  OK!"},
    {"usr", "USER_DATA code was missing!\n", 0x00080000, "\nUSER_DATA CODE  OK!"},
    {"odo", "ODO_DATA code was missing!\n", 0x00090000, "\nODO_DATA CODE  OK!"},
    {"ni", "NINDEX code was missing!\n", 0x000A0000, "\nNINDEX CODE  OK!"},
    {"nd", "NDATA code was missing!\n", 0x000DF490, "\nNDATA CODE  OK!"},
    {"n0i", "N0INDEX code was missing!\n", 0x00100000, "\nN0INDEX CODE  OK!"},
    {"n0d", "N0DATA code was missing!\n", 0x001021C0, "\nN0DATA CODE  OK!"},
    {"n2i", "N2INDEX code was missing!\n", 0x00120000, "\nN2INDEX CODE  OK!"},
    {"n2d", "N2DATA code was missing!\n", 0x001221C0, "\nN2DATA CODE  OK!"},
    {"n10i", "N10INDEX code was missing!\n", 0x00180000, "\nN10INDEX CODE  OK!"},
    {"n10d", "N10DATA code was missing!\n", 0x001821C0, "\nN10DATA CODE  OK!"},
};

ImageSet g_imageSet;

void ImageSet::release() {
  for (auto& s : slot) {
    s.data.reset();
    s.length = 0;
  }
}

bool LoadImage(const char* path, ImageSet::Slot& slot) {
  switch (ReadImageFile(path, &slot.data, &slot.length)) {
    case ImageFileStatus::kRead:
      return true;
    case ImageFileStatus::kNotFound:
      Print("File \"%s\" not found!\n", path);
      return false;
    case ImageFileStatus::kUnreadable:
      Print("File \"%s\" can not be read!\n", path);
      return false;
    case ImageFileStatus::kTooLarge:
      Print("File \"%s\" is too large!\n", path);
      return false;
  }
  return false;
}

// "BOOT CODE" from "\nBOOT CODE OK!": the report line's name.
std::string ImageName(int slot) {
  std::string name = kImageTable[slot].reportLine;
  name.erase(0, name.find_first_not_of('\n'));
  name.erase(name.rfind("OK!"));
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}
