// TransferImages against a loader whose every answer comes from the input.
//
// The loader answers each time the programmer starts waiting after it wrote
// something: with "RX", "OK", "PC"/"PF" and their eight bytes, block requests
// inside the image, past its end, below its start, huge, reversed, empty or
// with raw values, half a reply, free text, noise, raw bytes, or silence
// until the programmer writes again; each answer possibly late. Meanwhile it
// parses every frame the programmer writes and checks it against the images,
// and follows the replies the programmer read with a reference reader, so
// that the outcome can be checked against what the programmer was told.
//
// Input: <n> then n%3+1 images as <slot> <length hi> <length lo> <k> <k bytes>
// (the image repeats those bytes; length % 700), then replies as
// <kind> [parameters], see Loader::scheduleReply.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/detect.h"
#include "engine/programmer.h"
#include "engine/reply_reader.h"
#include "engine/transfer.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_support.h"
#include "serial/serial_port.h"
#include "sim/line_peer.h"
#include "tests/virtual_line.h"

namespace {

constexpr int kMaxReplies = 300;
constexpr uint64_t kWaitMs = 8001;  // a reply wait that runs out
constexpr uint64_t kSyncWaitMs = 101;

struct Image {
  int slot;
  uint32_t address;
  std::vector<uint8_t> bytes;
};

// The loader's CRC, bit by bit.
uint32_t BitwiseCrc(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
  }
  return crc;
}

class Loader : public LinePeer {
 public:
  Loader(FuzzInput& script, const std::vector<Image>& images) : script_(script), images_(images) {
    timeBoundMs_ = 10 * kSyncWaitMs + images.size() * kWaitMs + 101 + 11 + 1;
  }

  void receive(int64_t nowMs, uint32_t, const uint8_t* data, size_t count) override {
    checkTime(nowMs);
    FUZZ_CHECK(!wrongRequest());  // the run ends at a request out of bounds
    awaitingWrite_ = false;
    const std::string bytes(reinterpret_cast<const char*>(data), count);
    frames_.push_back(bytes);
    switch (expect_) {
      case Expect::kFrame:
        startFrame(bytes);
        break;
      case Expect::kHeaderField:
        FUZZ_CHECK(count == 4);
        header_[field_++] = ReadU32BE(data);
        if (field_ == 4) headerDone();
        break;
      case Expect::kBlockAddress:
        FUZZ_CHECK(count == 4);
        blockAddress_ = ReadU32BE(data);
        expect_ = Expect::kBlockCount;
        break;
      case Expect::kBlockCount:
        FUZZ_CHECK(count == 1);
        blockCount_ = data[0];
        expect_ = Expect::kBlockData;
        break;
      case Expect::kBlockData:
        blockDone(data, count);
        break;
    }
  }

  size_t transmit(int64_t nowMs, uint32_t, uint8_t* buffer, size_t count) override {
    checkTime(nowMs);
    if (out_.empty() && !awaitingWrite_ && !script_.empty() && replies_ < kMaxReplies)
      scheduleReply(nowMs);
    size_t got = 0;
    while (got < count && !out_.empty() && out_.front().atMs <= nowMs) {
      const uint8_t b = out_.front().byte;
      out_.pop_front();
      consumed(b);
      buffer[got++] = b;
    }
    return got;
  }

  int64_t nextByteMs(int64_t nowMs) const override {
    if (!out_.empty()) return std::max(out_.front().atMs, nowMs + 1);
    // The next transmit schedules the next answer, from its own time on.
    if (!awaitingWrite_ && !script_.empty() && replies_ < kMaxReplies) return nowMs + 1;
    return INT64_MAX;
  }

  // After the run: the checks that need the whole of it.
  void finish(int result, int64_t nowMs) {
    checkTime(nowMs);
    if (wrongRequest()) FUZZ_CHECK(result == 0);
    closeBurst();
    FUZZ_CHECK(expect_ == Expect::kFrame);
    FUZZ_CHECK(result == 0 || result == 2 || result == 3);
    const bool synced = std::count(windows_[0].begin(), windows_[0].end(), "RX") > 0;
    if (!synced) {
      FUZZ_CHECK(result == 0);
      FUZZ_CHECK(headers_ == 0);
      FUZZ_CHECK(!frames_.empty() && frames_.back() == "ABORT");
      return;
    }
    FUZZ_CHECK(headers_ >= 1);
    // Every image before the last one written was passed, or was Boot and
    // its loader fell silent (write-protected).
    for (size_t w = 1; w < windows_.size(); ++w) {
      const auto& tokens = windows_[w];
      const std::string last = tokens.empty() ? "" : tokens.back();
      const bool bootSilent = images_[w - 1].slot == 0 && (last.empty() || last == "BR");
      const bool lastWritten = w + 1 == windows_.size();
      if (!lastWritten || result == 2) FUZZ_CHECK(last == "PC" || bootSilent);
      if (lastWritten && result == 3) FUZZ_CHECK(last == "PF");
      if (lastWritten && result == 0) FUZZ_CHECK(last != "PC" && last != "PF");
    }
    if (result == 2) {
      FUZZ_CHECK(headers_ == images_.size());
      FUZZ_CHECK(frames_.size() >= 2 && frames_[frames_.size() - 2] == "EX" &&
                 frames_.back() == "ABORT");
    }
  }

 private:
  enum class Expect { kFrame, kHeaderField, kBlockAddress, kBlockCount, kBlockData };
  struct Pending {
    int64_t atMs;
    uint8_t byte;
  };
  struct Burst {
    bool open = false;
    bool sane = false;
    uint32_t start = 0, end = 0;
    uint32_t next = 0;   // the address the next block must start at
    uint64_t bytes = 0;  // image bytes sent for this request
  };

  // The last reply read was a request that must not be answered.
  bool wrongRequest() const { return burst_.open && !burst_.sane; }

  void checkTime(int64_t nowMs) {
    FUZZ_CHECK(nowMs >= 0);
    if (static_cast<uint64_t>(nowMs) > timeBoundMs_) {
      std::fprintf(stderr, "virtual time %lld ms passed the bound %llu ms\n",
                   static_cast<long long>(nowMs), static_cast<unsigned long long>(timeBoundMs_));
      std::abort();
    }
  }

  uint32_t address() const { return headers_ ? images_[headers_ - 1].address : 0; }
  uint32_t length() const {
    return headers_ ? static_cast<uint32_t>(images_[headers_ - 1].bytes.size()) : 0;
  }

  void startFrame(const std::string& bytes) {
    if (bytes == "........QV") {
      FUZZ_CHECK(headers_ == 0 && ++syncs_ <= 10);
    } else if (bytes == ".SP") {
      FUZZ_CHECK(headers_ < images_.size());
      expect_ = Expect::kHeaderField;
      field_ = 0;
    } else if (bytes == ".BT") {
      FUZZ_CHECK(burst_.open && burst_.sane);  // blocks answer an accepted request only
      expect_ = Expect::kBlockAddress;
    } else if (bytes == "EX" || bytes == "ABORT") {
    } else {
      FuzzCheckFailed(__FILE__, __LINE__, "a write that is no frame");
    }
  }

  void headerDone() {
    expect_ = Expect::kFrame;
    const Image& image = images_[headers_];
    const uint32_t n = static_cast<uint32_t>(image.bytes.size());
    FUZZ_CHECK(header_[0] == image.address);
    FUZZ_CHECK(header_[1] == n);
    const uint32_t first = image.address == kAppAddress ? kAppCrcStart : 0;
    uint32_t marker = 0;  // the first "QVRX" at or after `first`; 0 when there is none
    uint32_t crc = 0xFFFFFFFFu;
    if (n > first) {
      for (uint32_t p = first; p + 4 <= n; ++p) {
        if (std::memcmp(image.bytes.data() + p, kMarker, 4) != 0) continue;
        marker = p;
        break;
      }
      crc = BitwiseCrc(image.bytes.data() + first, n - first);
    }
    FUZZ_CHECK(header_[2] == image.address + marker);
    FUZZ_CHECK(header_[3] == crc);
    ++headers_;
    windows_.emplace_back();
    asked_ = 0;
    requests_ = 0;
    emptyInARow_ = 0;
  }

  void blockDone(const uint8_t* data, size_t count) {
    expect_ = Expect::kFrame;
    FUZZ_CHECK(count >= 1 && count <= 256 && (count & 0xFF) == blockCount_);
    FUZZ_CHECK(blockAddress_ == burst_.next);
    const uint64_t first = address();
    const uint64_t limit = first + length() + 256;  // one past the last address answered
    FUZZ_CHECK(blockAddress_ >= first && blockAddress_ + count <= limit);
    const std::vector<uint8_t>& image = images_[headers_ - 1].bytes;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t at = blockAddress_ + i - first;
      FUZZ_CHECK(data[i] == (at < image.size() ? image[at] : 0xFF));
    }
    burst_.next = blockAddress_ + static_cast<uint32_t>(count);
    burst_.bytes += count;
    FUZZ_CHECK(burst_.bytes <= uint64_t{length()} + 256);
  }

  // The programmer reads again: the request it was answering is done.
  void closeBurst() {
    if (!burst_.open) return;
    burst_.open = false;
    if (!burst_.sane) {
      FUZZ_CHECK(burst_.bytes == 0);
      return;
    }
    // Blocks cover the request from its start to its end (the last byte of a
    // span one longer than a multiple of 256 is left out).
    if (burst_.start < burst_.end) {
      FUZZ_CHECK(burst_.next >= burst_.end && burst_.next <= uint64_t{burst_.end} + 1);
    } else {
      FUZZ_CHECK(burst_.bytes == 0);
    }
  }

  // One byte the programmer read.
  void consumed(uint8_t b) {
    FUZZ_CHECK(!wrongRequest());
    closeBurst();
    if (!reference_.feed(b)) return;
    windows_[headers_].push_back(reference_.text());
    if (reference_.text() != "BR" || headers_ == 0) return;
    const uint64_t first = address();
    const uint64_t limit = first + length() - 1 + 256;  // may be first + 255
    burst_ = Burst{};
    burst_.open = true;
    burst_.start = reference_.start();
    burst_.end = reference_.end();
    burst_.next = burst_.start;
    // The image's work is bounded: its length 8 times over plus 64 KiB, in
    // one request for every 16 of those bytes at the most.
    asked_ += burst_.start < burst_.end ? uint64_t{burst_.end} - burst_.start + 1 : 0;
    emptyInARow_ = burst_.start < burst_.end ? 0 : emptyInARow_ + 1;
    const uint64_t budget = 8 * uint64_t{length()} + 64 * 1024;
    // ... and at most 255 requests in a row that ask for nothing.
    burst_.sane = burst_.start >= first && burst_.start <= limit && burst_.end <= limit &&
                  asked_ <= budget && ++requests_ <= budget / 16 && emptyInARow_ < 256;
  }

  void send(const std::string& bytes, int64_t atMs) {
    for (char c : bytes) out_.push_back({atMs, static_cast<uint8_t>(c)});
  }

  // <kind>: low 4 bits what, high 4 bits how late; parameters as read below.
  void scheduleReply(int64_t nowMs) {
    ++replies_;
    const uint8_t kind = script_.byte();
    static const int32_t kDelays[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 99, 101, 7999, 8001, 9000};
    const int32_t delay = kDelays[kind >> 4];
    const uint32_t a = address();
    const uint32_t n = length();
    const uint32_t inside = std::max<uint32_t>(n, 1);
    std::string reply;
    switch (kind & 0x0F) {
      case 0:
        reply = "RX";
        break;
      case 1:
        reply = "OK";
        break;
      case 2:
        reply = "PC" + U32BE(a) + U32BE(n);
        break;
      case 3:
        reply = "PF" + U32BE(a) + U32BE(n);
        break;
      case 4: {  // inside the image
        const uint32_t s = a + script_.u16() % inside;
        const uint32_t room = std::max<uint32_t>(a + n - s, 1);
        reply = "BR" + U32BE(s) + U32BE(s + script_.u16() % room);
        break;
      }
      case 5: {  // from past the image's end, within the slack or beyond it
        const uint32_t s = a + n + script_.byte() % 300;
        reply = "BR" + U32BE(s) + U32BE(s + script_.u16() % 600);
        break;
      }
      case 6: {  // from below its start (below 0 wraps round)
        const uint32_t s = a - 1 - script_.byte() % 64;
        reply = "BR" + U32BE(s) + U32BE(a + script_.u16() % inside);
        break;
      }
      case 7: {  // huge
        const uint32_t s = a + script_.u16() % inside;
        reply = "BR" + U32BE(s) + U32BE(script_.byte() & 1 ? 0xFFFFFFFFu : s + 0x10000000u);
        break;
      }
      case 8: {  // start beyond end
        const uint32_t s = a + script_.u16() % (n + 257) + 1;
        reply = "BR" + U32BE(s) + U32BE(s - 1 - script_.byte() % 16);
        break;
      }
      case 9: {  // start equal to end
        const uint32_t s = a + script_.u16() % (n + 257);
        reply = "BR" + U32BE(s) + U32BE(s);
        break;
      }
      case 10: {  // half a reply: a token and fewer than its eight bytes
        static const char* const kTokens[] = {"BR", "PC", "PF", "B", "P"};
        reply = kTokens[script_.byte() % 5];
        reply += script_.bytes(script_.byte() % 8);
        break;
      }
      case 11: {  // free text
        reply = "FT";
        const int len = script_.byte() % 64;
        for (int i = 0; i < len; ++i) reply += static_cast<char>('a' + i % 26);
        break;
      }
      case 12: {  // noise, as a rate mismatch makes it
        const int len = script_.byte() % 32 + 1;
        for (int i = 0; i < len; ++i) reply += static_cast<char>(0x80 | (i * 37 + len));
        break;
      }
      case 13:  // nothing until the programmer writes again
        awaitingWrite_ = true;
        return;
      case 14:  // raw bytes
        reply = script_.bytes(script_.byte() % 32 + 1);
        break;
      default:  // a request with raw values
        reply = "BR" + script_.bytes(8);
        break;
    }
    timeBoundMs_ += static_cast<uint64_t>(delay);
    send(reply, nowMs + delay);
  }

  FuzzInput& script_;
  const std::vector<Image>& images_;
  uint64_t timeBoundMs_ = 0;
  uint64_t asked_ = 0, requests_ = 0;  // the current image's requests so far
  int emptyInARow_ = 0;                // its requests in a row that asked for nothing
  int replies_ = 0;
  std::deque<Pending> out_;
  bool awaitingWrite_ = false;

  Expect expect_ = Expect::kFrame;
  uint32_t header_[4] = {};
  int field_ = 0;
  uint32_t blockAddress_ = 0;
  uint8_t blockCount_ = 0;
  std::vector<std::string> frames_;
  int syncs_ = 0;
  size_t headers_ = 0;

  ReferenceReplyReader reference_;
  // The reply tokens the programmer read: [0] while syncing, [i] after the
  // i-th header.
  std::vector<std::vector<std::string>> windows_{1};
  Burst burst_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::vector<Image> images;
  const int count = in.byte() % 3 + 1;
  for (int i = 0; i < count; ++i) {
    const int slot = in.byte() % kSlotCount;
    const size_t length = in.u16() % 700;
    const std::string pattern = in.bytes(in.byte() % 16);
    Image image{slot, kImageTable[slot].address, std::vector<uint8_t>(length, 0xA5)};
    for (size_t b = 0; b < length && !pattern.empty(); ++b)
      image.bytes[b] = static_cast<uint8_t>(pattern[b % pattern.size()]);
    auto same = std::find_if(images.begin(), images.end(),
                             [slot](const Image& other) { return other.slot == slot; });
    if (same != images.end())
      *same = std::move(image);
    else
      images.push_back(std::move(image));
  }
  std::sort(images.begin(), images.end(),
            [](const Image& x, const Image& y) { return x.slot < y.slot; });

  NullConsole console;
  SetEngineConsole(&console);
  ClearReadersForTesting();
  g_programmingBaud = 115200;
  g_imageSet.release();
  for (const Image& image : images) {
    // Exactly as long as the image, so that any read past it is caught.
    auto& s = g_imageSet.slot[image.slot];
    s.data.reset(new uint8_t[std::max<size_t>(image.bytes.size(), 1)]);
    std::copy(image.bytes.begin(), image.bytes.end(), s.data.get());
    s.length = static_cast<int32_t>(image.bytes.size());
  }

  {
    Loader loader(in, images);
    VirtualPortOpener line(loader);
    line.clock.skipIdle = true;
    SerialPort::install(SerialPort::open("COM1", 115200));
    g_startTime = line.clock.nowMs();
    const int result = TransferImages();
    if (Verbose())
      std::fprintf(stderr, "transfer: %zu images, result %d, %d ms\n", images.size(), result,
                   line.clock.nowMs());
    loader.finish(result, line.clock.nowMs());
  }
  g_imageSet.release();
  SetEngineConsole(nullptr);
  return 0;
}
