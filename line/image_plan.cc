#include "line/image_plan.h"

#include <cstdlib>

#include "engine/image_file.h"
#include "engine/image_set.h"
#include "engine/protocol.h"
#include "engine/transfer.h"

namespace {

bool IsRate(int rate) {
  for (int r : kRateTable)
    if (r == rate) return true;
  return false;
}

// The words' fault, or "".
std::string CheckWords(const std::vector<std::string>& words, ImagePlan* plan,
                       std::string paths[kSlotCount]) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool hasNext = i + 1 < words.size();
    int image = -1;
    for (int s = 0; s < kSlotCount && image < 0; ++s)
      if (word == std::string("-") + kImageTable[s].key) image = s;
    if (image >= 0) {
      if (!hasNext || words[i + 1][0] == '-') return kImageTable[image].missing;
      paths[image] = words[++i];
    } else if (word == "-baud") {
      if (!hasNext) return "-baud needs a rate\n";
      const int rate = std::atoi(words[i + 1].c_str());
      if (!IsRate(rate)) return "Baud rate \"" + words[i + 1] + "\" error!\n";
      plan->baud = rate;
      ++i;
    } else if (word == "-uart") {
      return "-uart is not given here: the ports come from --ports or --all-usb\n";
    } else {
      return "unknown \"" + word + "\" command!\n";
    }
  }
  return "";
}

}  // namespace

bool PlanImages(const std::vector<std::string>& words, ImagePlan* plan, std::string* error) {
  *plan = ImagePlan{};
  std::string paths[kSlotCount];
  *error = CheckWords(words, plan, paths);
  if (!error->empty()) return false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (paths[slot].empty()) continue;
    PlannedImage image;
    image.slot = slot;
    image.path = paths[slot];
    switch (ReadImageFile(image.path.c_str(), &image.data, &image.length)) {
      case ImageFileStatus::kRead:
        image.crc = HeaderCrc(kImageTable[slot].address, image.data.get(), image.length);
        plan->images.push_back(std::move(image));
        break;
      case ImageFileStatus::kNotFound:
        *error += "File \"" + image.path + "\" not found!\n";
        break;
      case ImageFileStatus::kUnreadable:
        *error += "File \"" + image.path + "\" can not be read!\n";
        break;
      case ImageFileStatus::kTooLarge:
        *error += "File \"" + image.path + "\" is too large!\n";
        break;
    }
  }
  if (error->empty() && plan->images.empty()) *error = "no image given\n";
  return error->empty();
}
