#include "engine/transfer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/console.h"
#include "engine/image_set.h"
#include "engine/progress.h"
#include "engine/protocol.h"
#include "engine/reply_reader.h"
#include "engine/run_hooks.h"
#include "engine/run_report.h"
#include "serial/serial_port.h"

namespace {

constexpr int kSyncAttempts = 10;
constexpr int kSyncTimeoutMs = 100;
constexpr int kReplyTimeoutMs = 8000;
// A request may reach this far past an image's last byte (the loader may ask
// for one address more than it needs); further is a garbled request.
constexpr uint64_t kRequestSlack = 256;

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

const std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

void PrintAddress(uint32_t address) {
  Print("\b\b\b\b\b\b\b\b%08X", address);
}

bool Synchronise() {
  for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
    SerialPort::writeText(kSyncString);
    if (WaitForReply(kSyncTimeoutMs) && std::strcmp(ReplyText(), kSyncedReply) == 0) return true;
    if (RunCutShort()) return false;
  }
  return false;
}

void WriteHeader(uint32_t address, const ImageSet::Slot& image) {
  const int32_t length = image.length;
  const int crcStart = address == kAppAddress ? kAppCrcStart : 0;
  uint32_t markerAddress = address;
  if (length - 1 >= crcStart)
    markerAddress += FindMarker(image.data.get(), kMarker, crcStart, length - 1);
  SerialPort::writeText(kHeaderTag);
  SerialPort::writeU32BE(address);
  SerialPort::writeU32BE(static_cast<uint32_t>(length));
  SerialPort::writeU32BE(markerAddress);
  SerialPort::writeU32BE(HeaderCrc(address, image.data.get(), length));
}

// A request is answered only when it lies within the image, or ends at most
// kRequestSlack bytes past it: a garbled one must not make us stream
// gigabytes or read outside the buffer.
bool RequestIsSane(uint32_t address, int32_t length, uint32_t start, uint32_t end) {
  const uint64_t limit = uint64_t{address} + static_cast<uint64_t>(length) - 1 + kRequestSlack;
  return start >= address && start <= limit && end <= limit;
}

// Answers one block request with blocks of at most 256 bytes, as long as the
// run flag allows; addresses past the image's end go out as erased flash.
// Returns the address after the last block sent.
uint32_t SendBlocks(uint32_t address, const ImageSet::Slot& image, uint32_t start, uint32_t end) {
  uint8_t block[kLargestBlock];
  uint32_t a = start;
  while (a < end) {
    if (ReadRunFlag() == 0) break;
    const uint32_t n = std::min(end - a + 1, kLargestBlock);
    const uint64_t offset = a - address;
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t at = offset + i;
      block[i] = at < static_cast<uint64_t>(image.length) ? image.data[at] : 0xFF;
    }
    SerialPort::writeText(kBlockTag);
    SerialPort::writeU32BE(a);
    SerialPort::writeByte(static_cast<int>(n));
    SerialPort::writeBytes(block, n);
    a += n;
  }
  return a;
}

// The bytes a request asks for at the most (its last block may fall short).
uint64_t RequestedBytes(uint32_t start, uint32_t end) {
  return end > start ? uint64_t{end} - start + 1 : 0;
}

}  // namespace

uint64_t MaxRequestedBytes(int32_t length) {
  return kResendFactor * static_cast<uint64_t>(length > 0 ? length : 0) + kResendSlack;
}

uint64_t MaxRequests(int32_t length) {
  return MaxRequestedBytes(length) / kBytesPerRequestFloor;
}

int FindMarker(const uint8_t* image, const char* pattern, int first, int last) {
  const int length = static_cast<int>(std::strlen(pattern));
  if (first > last) return 0;
  // In 64 bits: near the largest offset an int holds, p + length would overflow.
  for (int64_t p = first; p + length - 1 <= last; ++p)
    if (std::memcmp(image + p, pattern, length) == 0) return static_cast<int>(p);
  return 0;
}

uint32_t HeaderCrc(uint32_t address, const uint8_t* image, int32_t length) {
  const int crcStart = address == kAppAddress ? kAppCrcStart : 0;
  if (length - 1 < crcStart) return 0xFFFFFFFFu;
  return ImageCrc(image + crcStart, image + length - 1);
}

uint32_t ImageCrc(const uint8_t* first, const uint8_t* last) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const uint8_t* p = first; p <= last; ++p) crc = (crc >> 8) ^ kCrcTable[(crc ^ *p) & 0xFF];
  return crc;
}

int TransferImages() {
  RunHooks& hooks = CurrentRunHooks();
  int* const outcomes = hooks.record.outcomes;
  std::fill(outcomes, outcomes + kSlotCount, kNotWritten);
  hooks.record.complete = false;
  if (!Synchronise()) {
    if (SerialPort::lineGone()) {
      Print("\nDevice no response!\n");
      return 0;
    }
    if (RunAborted()) return 0;
    SerialPort::writeText(kAbortCommand);
    Delay(100);
    return 0;
  }

  int result = 1;
  uint32_t total = 0;
  for (const auto& image : g_imageSet.slot) total += static_cast<uint32_t>(image.length);
  PostProgress(PROGRESS_SET_TOTAL, static_cast<int32_t>(total));
  uint32_t bytesDone = 0;

  int slot = 0;
  for (; slot < kSlotCount; ++slot) {
    if (ReadRunFlag() == 0) break;
    if (!g_imageSet.present(slot)) continue;
    const ImageSet::Slot& image = g_imageSet.slot[slot];
    const uint32_t address = kImageTable[slot].address;
    const uint32_t lastByte = address + static_cast<uint32_t>(image.length) - 1;
    if (hooks.observer) hooks.observer->writingImage(slot);
    WriteHeader(address, image);

    result = 1;
    bool aborted = false;
    uint64_t askedBytes = 0, requests = 0;
    int emptyInARow = 0;  // requests in a row that asked for no bytes
    for (;;) {
      if (!WaitForReply(kReplyTimeoutMs)) {
        if (RunAborted()) {
          aborted = true;
        } else if (slot == 0 && !SerialPort::lineGone()) {
          // Boot: silence on a live line means the boot area is write-protected.
          PrintAddress(lastByte);
          outcomes[slot] = kWriteProtected;
          result = 2;
        } else {
          outcomes[slot] = kNoResponse;
          Print("\nDevice no response!\n");
          result = 0;
        }
        break;
      }
      const char* reply = ReplyText();
      if (std::strcmp(reply, kRequestReply) == 0) {
        const uint32_t start = RequestStart();
        const uint32_t end = RequestEnd();
        PrintAddress(start);
        askedBytes += RequestedBytes(start, end);
        emptyInARow = start < end ? 0 : emptyInARow + 1;
        if (!RequestIsSane(address, image.length, start, end) ||
            askedBytes > MaxRequestedBytes(image.length) ||
            ++requests > MaxRequests(image.length) || emptyInARow >= kMaxEmptyRequestsInARow) {
          Print("\nWrong message!");
          result = 0;
          break;
        }
        const uint32_t after = SendBlocks(address, image, start, end);
        PostProgress(PROGRESS_SET_POSITION, static_cast<int32_t>(bytesDone + (after - address)));
        continue;
      }
      if (std::strcmp(reply, kCompleteReply) == 0) {
        PrintAddress(lastByte);
        outcomes[slot] = kWritten;
        result = 2;
      } else if (std::strcmp(reply, kFailedReply) == 0) {
        outcomes[slot] = kFailed;
        result = 3;
      } else {
        Print("\nWrong message!");
        result = 0;
      }
      break;
    }
    if (hooks.observer) hooks.observer->imageDone(slot, outcomes[slot]);
    if (aborted) break;
    bytesDone += static_cast<uint32_t>(image.length);
    if (result == 0 || result == 3) break;
  }

  if (result == 2 && slot == kSlotCount) {
    hooks.record.complete = true;
    PrintRunReport(outcomes);
    SerialPort::writeText(kExitCommand);
    SerialPort::writeText(kAbortCommand);
    Delay(10);
    return 2;
  }
  if (result == 3) {
    Print("\nProgramming failed!\n");
    return 3;
  }
  return result;
}
