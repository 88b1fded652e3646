// The loader reply reader (PollReply, WaitForReply, ResetReplyReader) fed
// with the input's bytes on virtual time, and compared byte by byte with a
// reference reader written from the contract.
//
// Input: one byte picks where the engine clock starts (so that waits cross
// the clock's wrap), then operations until the input ends:
//   0..3 <n> <bytes>  n+1 bytes readable from now (or after the last gap)
//   4 <g>             the bytes that follow become readable g*40 ms later
//   5 <k>             PollReply k%16+1 times
//   6 <hi> <lo>       WaitForReply(ms) with ms = (hi<<8|lo) % 10000
//   7                 ResetReplyReader
// Whatever is left readable at the end is polled out.
#include <cstring>
#include <string_view>

#include "engine/clock.h"
#include "engine/reply_reader.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_support.h"
#include "serial/serial_port.h"
#include "tests/virtual_line.h"

namespace {

struct Run {
  VirtualClock clock;
  ScheduledLink* link = nullptr;
  ReferenceReplyReader reference;
  size_t seen = 0;  // bytes of link->consumed() given to the reference
};

// Whether `text` is `want` and ends there. A plain loop: memcmp would go
// through the sanitizers' interceptors, which cost more than the compare.
bool SameText(const char* text, const std::string& want) {
  for (size_t i = 0; i < want.size(); ++i)
    if (text[i] != want[i]) return false;
  return text[want.size()] == '\0';
}

// The reply state the engine shows must be the reference's.
void CheckState(const Run& run) {
  // The reference's text is at most 200 characters: equal to it and ended
  // there, the engine's is too.
  FUZZ_CHECK(SameText(ReplyText(), run.reference.text()));
  FUZZ_CHECK(RequestStart() == run.reference.start());
  FUZZ_CHECK(RequestEnd() == run.reference.end());
}

// Feeds the bytes the engine read since the last call to the reference;
// returns how many of them completed a reply, and whether the last one did.
int FeedReference(Run& run, bool* lastCompleted) {
  const std::string_view consumed = run.link->consumed();
  int completions = 0;
  *lastCompleted = false;
  for (; run.seen < consumed.size(); ++run.seen) {
    *lastCompleted = run.reference.feed(static_cast<uint8_t>(consumed[run.seen]));
    completions += *lastCompleted;
  }
  return completions;
}

void Poll(Run& run) {
  const size_t before = run.link->consumedCount();
  const int got = PollReply();
  FUZZ_CHECK(run.link->consumedCount() - before <= 1);
  bool last = false;
  FeedReference(run, &last);
  FUZZ_CHECK(got == (last ? 1 : 0));
  CheckState(run);
}

void Wait(Run& run, int ms) {
  const uint64_t before = run.link->elapsedMs();
  const int got = WaitForReply(ms);
  const uint64_t took = run.link->elapsedMs() - before;
  bool last = false;
  const int completions = FeedReference(run, &last);
  if (got) {
    // Ends at the byte that completed the first reply, before the time-out.
    FUZZ_CHECK(completions == 1 && last);
    FUZZ_CHECK(took <= static_cast<uint64_t>(ms));
  } else {
    FUZZ_CHECK(completions == 0);
    FUZZ_CHECK(took >= static_cast<uint64_t>(ms) && took <= static_cast<uint64_t>(ms) + 1);
  }
  CheckState(run);
}

void Reset(Run& run) {
  const size_t before = run.link->consumedCount();
  ResetReplyReader();
  const size_t after = run.link->consumedCount();
  FUZZ_CHECK(after - before <= 1);
  if (after > before) ++run.seen;
  run.reference.drop();
  CheckState(run);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Run run;
  DriveReader(in, run, Poll, Wait, Reset);
  return 0;
}
