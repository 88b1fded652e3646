// The programmer's options that velmora-line hands to every port's run,
// checked and their images loaded once, before any port is touched.
//
// The words are fwp's options without -uart: -baud RATE and the image options
// (-boot FILE, -app FILE, ...). Each image file is read whole with the
// engine's image reading; the CRC its header will carry is worked out from
// the bytes read, so the log says what is sent.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_LINE_IMAGE_PLAN_H_
#define VELMORA_LINE_IMAGE_PLAN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct PlannedImage {
  int slot = 0;      // 0 to 12, in write order
  std::string path;  // as given
  std::unique_ptr<uint8_t[]> data;
  int32_t length = 0;
  uint32_t crc = 0;  // as the header carries it
};

struct ImagePlan {
  int baud = 0;  // the -baud rate; 0 when none was given (the programmer's default)
  std::vector<PlannedImage> images;  // in slot order, one per slot
};

// Reads `words`. On success fills `plan` and returns true. Otherwise returns
// false with `error` holding the programmer's own texts where it has them,
// each ending in "\n": the first fault of the words ("Baud rate \"%s\"
// error!", "App code was missing!", "unknown \"%s\" command!"; -uart and the
// help words are refused too), or else one line for every image file that
// could not be read, in slot order ("File \"%s\" not found!" and the like),
// or "no image given" when none was named.
bool PlanImages(const std::vector<std::string>& words, ImagePlan* plan, std::string* error);

#endif  // VELMORA_LINE_IMAGE_PLAN_H_
