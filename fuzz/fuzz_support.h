// What the fuzz targets share: a console that keeps nothing and never waits,
// a link that serves scheduled bytes on virtual time, and a reference reader
// for loader replies and "$" sentences written from the reader contracts in
// engine/reply_reader.h, to compare the engine's readers against.
//
// Threads: the fuzzer's one thread.
#ifndef VELMORA_FUZZ_FUZZ_SUPPORT_H_
#define VELMORA_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/clock.h"
#include "engine/console.h"
#include "engine/reply_reader.h"
#include "fuzz/fuzz_input.h"
#include "serial/serial_port.h"
#include "tests/virtual_line.h"

// Swallows the engine's output (keeping only its size) and answers every key
// wait at once.
class NullConsole : public Console {
 public:
  void write(std::string_view text) override { written += text.size(); }
  void writeError(std::string_view line) override { written += line.size(); }
  void waitForKey() override { ++keyWaits; }
  size_t written = 0;
  int keyWaits = 0;
};

// A serial link whose receiver end is a schedule: each byte becomes readable
// at a virtual time. A read that finds nothing readable lets time pass on
// `clock` as VirtualLine's does: one millisecond, as a real read waits out its
// time-out, or while the engine waits (with the clock's skipIdle) up to the
// next byte or the wait's end at once.
class ScheduledLink : public SerialLink {
 public:
  explicit ScheduledLink(VirtualClock& clock) : clock_(clock) {}

  // Adds `bytes`, readable from `atMs` (milliseconds since the link was made)
  // on; never earlier than bytes already added.
  void add(std::string_view bytes, uint64_t atMs);

  void setBaudRate(uint32_t) override {}
  void drain() override {}
  bool write(const void*, size_t) override { return true; }
  size_t read(void* buffer, size_t count) override;

  // Room for `bytes` bytes in all, so that adding them allocates nothing.
  void reserve(size_t bytes) { bytes_.reserve(bytes); }

  // Milliseconds since the link was made.
  uint64_t elapsedMs() const { return elapsed_; }
  // Every byte read so far, in order, and how many.
  std::string_view consumed() const { return std::string_view(bytes_).substr(0, read_); }
  size_t consumedCount() const { return read_; }
  // Whether a byte is readable now.
  bool readable() const { return read_ < bytes_.size() && chunks_[chunk_].atMs <= elapsed_; }
  uint64_t lastAtMs() const { return read_ < bytes_.size() ? chunks_.back().atMs : 0; }
  // When the next byte becomes readable; UINT64_MAX when none is left.
  uint64_t nextAtMs() const { return read_ < bytes_.size() ? chunks_[chunk_].atMs : UINT64_MAX; }

 private:
  // Where the bytes readable from one time on begin in bytes_.
  struct Chunk {
    uint64_t atMs;
    size_t from;
  };
  VirtualClock& clock_;
  std::string bytes_;  // every byte added, in order; those before read_ were read
  std::vector<Chunk> chunks_;
  size_t read_ = 0;
  size_t chunk_ = 0;  // the chunk that holds bytes_[read_]
  uint64_t elapsed_ = 0;
};

// The reply tokens as engine/reply_reader.h describes them, followed byte by
// byte.
class ReferenceReplyReader {
 public:
  // One byte as PollReply takes it; true when it completes a reply.
  bool feed(uint8_t b);
  // One byte as ResetReplyReader drops it: the token window empties.
  void drop() { havePrevious_ = false; }

  // The reply text the engine should show now.
  const std::string& text() const { return text_; }
  uint32_t start() const { return start_; }
  uint32_t end() const { return end_; }
  // Whether the eight value bytes of a "BR", "PC" or "PF" are being collected.
  bool collecting() const { return collecting_; }

 private:
  bool collecting_ = false;
  int count_ = 0;
  uint8_t values_[8] = {};
  bool havePrevious_ = false;
  char previous_ = 0;
  bool freeText_ = false;
  std::string text_;
  uint32_t start_ = 0;
  uint32_t end_ = 0;
};

// "$" sentences as engine/reply_reader.h describes them: a sentence opens at
// "$" and completes at a line feed or the next "$"; any other control byte
// closes it.
class ReferenceSentenceReader {
 public:
  bool feed(uint8_t b);
  void close() {
    open_ = false;
    text_.clear();
  }
  // The open sentence's first 99 characters; empty while none is open.
  const std::string& text() const { return text_; }

 private:
  bool open_ = false;
  std::string text_;
};

// Drives a reader with the operations the reader targets share (their input
// layout is at the top of each target): one byte picks where the engine clock
// starts, then bytes become readable, gaps pass, and `poll(run)`,
// `wait(run, ms)` and `reset(run)` are called, until the input ends; then what
// is still readable is polled out. `Run` has the members `clock`
// (VirtualClock) and `link` (ScheduledLink*), which this sets and installs as
// the shared port for the call.
template <typename Run, typename Poll, typename Wait, typename Reset>
void DriveReader(FuzzInput& in, Run& run, Poll poll, Wait wait, Reset reset) {
  static const uint32_t kClockStarts[] = {0, 0x7FFFFF00u, 0xFFFFFF00u, 0x80000000u};
  run.clock.advance(static_cast<int32_t>(kClockStarts[in.byte() % 4]));
  run.clock.skipIdle = true;
  SetEngineClock(&run.clock);
  ClearReadersForTesting();
  auto link = std::make_unique<ScheduledLink>(run.clock);
  link->reserve(in.left());
  run.link = link.get();
  SerialPort::install(std::move(link));

  uint64_t readableAt = 0;
  int operations = 0;
  while (!in.empty() && ++operations < 4096) {
    const uint8_t op = in.byte() % 8;
    if (op <= 3) {
      const size_t n = size_t{in.byte()} + 1;
      if (readableAt < run.link->elapsedMs()) readableAt = run.link->elapsedMs();
      run.link->add(in.view(n), readableAt);
    } else if (op == 4) {
      readableAt = run.link->elapsedMs() + uint64_t{in.byte()} * 40;
    } else if (op == 5) {
      const int k = in.byte() % 16 + 1;
      for (int i = 0; i < k; ++i) poll(run);
    } else if (op == 6) {
      wait(run, in.u16() % 10000);
    } else {
      reset(run);
    }
  }
  while (run.link->readable()) poll(run);

  SerialPort::close();
  SetEngineClock(nullptr);
}

// Whether VELMORA_FUZZ_VERBOSE is set: the targets then print each run's
// outcome, to see what a seed reaches.
bool Verbose();

// Big-endian 32-bit value of 4 bytes.
uint32_t ReadU32BE(const uint8_t* p);
std::string U32BE(uint32_t value);

#endif  // VELMORA_FUZZ_FUZZ_SUPPORT_H_
