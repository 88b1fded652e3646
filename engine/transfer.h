// Writing the image set into the receiver through its loader.
//
// After a sync, each present image is announced with a header (address,
// length, marker address, CRC) and from then on the loader drives: it asks
// for address ranges ("BR"), which are answered in blocks of at most 256
// bytes, until it reports the image complete ("PC") or failed ("PF").
//
// The frames are the protocol's (protocol.h); each field goes out in a write
// of its own.
//
// Threads: the thread that runs the programmer. Reads the run flag before
// each image and each block; posts progress without waiting.
#ifndef VELMORA_ENGINE_TRANSFER_H_
#define VELMORA_ENGINE_TRANSFER_H_

#include <cstdint>

#include "engine/protocol.h"

// Writes every present image of g_imageSet. Results: 0 no loader answered the
// sync, no answer to an image other than Boot, a wrong reply, or the line
// gone; 1 the sync succeeded but the run was stopped before any image (or none
// is present); 2 every image handled (with the run report and closing frames
// when all slots were passed); 3 the loader reported an image failed.
//
// A line that goes away ends the run at once with "\nDevice no response!\n"
// (for Boot too: only silence on a live line means write protection). An
// abort (run_hooks.h) ends it at once, printing nothing more; the outcomes so
// far are in the run's record.
int TransferImages();

// The work one image may cost. A loader may ask again for blocks it lost, but
// one that asks for more than MaxRequestedBytes(length) bytes in all (the
// image 8 times over plus 64 KiB), or sends more than MaxRequests(length)
// requests (one for every 16 of those bytes), is taken to ask forever, and
// the run ends with "\nWrong message!".
//
// A request that asks for no bytes (its end not above its start) is answered
// with none; kMaxEmptyRequestsInARow of them in a row end the run the same
// way, however large the image's budget.
constexpr int kMaxEmptyRequestsInARow = 256;
constexpr uint64_t kResendFactor = 8;
constexpr uint64_t kResendSlack = 64 * 1024;
constexpr uint64_t kBytesPerRequestFloor = 16;
uint64_t MaxRequestedBytes(int32_t length);
uint64_t MaxRequests(int32_t length);

// The offset of the first occurrence of `pattern` lying wholly within image
// offsets `first` to `last` (inclusive); 0 when there is none or first > last.
int FindMarker(const uint8_t* image, const char* pattern, int first, int last);

// The loader's CRC over the bytes from `first` to `last` (inclusive): CRC-32,
// reflected polynomial 0xEDB88320, register starting at 0xFFFFFFFF and no
// final inversion. 0xFFFFFFFF when first lies beyond last.
uint32_t ImageCrc(const uint8_t* first, const uint8_t* last);

// The CRC that the header of an image of `length` bytes at `address` carries:
// ImageCrc over the whole image, or for the App image over the bytes from
// kAppCrcStart on; 0xFFFFFFFF when there are none.
uint32_t HeaderCrc(uint32_t address, const uint8_t* image, int32_t length);

#endif  // VELMORA_ENGINE_TRANSFER_H_
