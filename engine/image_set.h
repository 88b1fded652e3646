// The image set: the 13 image slots of a run, their table, and the loading
// and release of their files.
//
// The image table fixes, for each slot, the option word that names its file,
// the message for an option without a path, the write address in the
// receiver's flash and the line the run report prints for it. The slot index
// is the table index and the order in which images are loaded, written and
// reported.
//
// State: g_imageSet lives in process-wide storage without locks; the
// programmer fills it for one run and empties it at the run's end. One run
// at a time.
#ifndef VELMORA_ENGINE_IMAGE_SET_H_
#define VELMORA_ENGINE_IMAGE_SET_H_

#include <cstdint>
#include <memory>
#include <string>

constexpr int kSlotCount = 13;

// One row of the image table: slot index = table index = write order.
struct ImageInfo {
  const char* key;         // option word without its "-", e.g. "app"
  const char* missing;     // message when the option has no path
  uint32_t address;        // write address in the receiver's flash
  const char* reportLine;  // run report line for a written image
};
extern const ImageInfo kImageTable[kSlotCount];

// 13 image slots. A slot is present when it has a buffer (also for an empty
// file); length is the file's length in bytes.
struct ImageSet {
  struct Slot {
    std::unique_ptr<uint8_t[]> data;
    int32_t length = 0;
  };
  Slot slot[kSlotCount];

  bool present(int i) const { return slot[i].data != nullptr; }
  // Frees every buffer and empties every slot.
  void release();
};

// The images of the current run.
extern ImageSet g_imageSet;

// Loads the file at `path` whole into `slot`. False, with the reason printed
// ("File \"%s\" not found!\n" and the like), when it cannot be read whole;
// the slot is then left empty, so nothing half-read is sent.
bool LoadImage(const char* path, ImageSet::Slot& slot);

// The image's name in the run report: "BOOT CODE", "APP CODE", "NINDEX CODE".
std::string ImageName(int slot);

#endif  // VELMORA_ENGINE_IMAGE_SET_H_
