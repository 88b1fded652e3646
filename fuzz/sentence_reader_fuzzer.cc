// The "$" sentence reader (PollSentence, WaitForSentence,
// ResetSentenceReader) fed with the input's bytes on virtual time, and
// compared byte by byte with a reference reader written from the contract.
//
// Input: one byte picks where the engine clock starts, then operations:
//   0..3 <n> <bytes>  n+1 bytes readable from now (or after the last gap)
//   4 <g>             the bytes that follow become readable g*40 ms later
//   5 <k>             PollSentence k%16+1 times
//   6 <hi> <lo>       WaitForSentence(ms) with ms = (hi<<8|lo) % 10000
//   7                 ResetSentenceReader
// Whatever is left readable at the end is polled out.
//
// Checked: where sentences complete, the open sentence's text after every
// byte (the reference's, so at most 99 characters, starting with "$", only
// printable and white-space bytes), how long the waits take, and that a reset
// takes every byte already readable and leaves no sentence open.

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
  ReferenceSentenceReader reference;
  size_t seen = 0;
};

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
  const int got = PollSentence();
  FUZZ_CHECK(run.link->consumedCount() - before <= 1);
  bool last = false;
  FeedReference(run, &last);
  FUZZ_CHECK(got == (last ? 1 : 0));
  FUZZ_CHECK(run.reference.text() == SentenceTextForTesting());
}

void Wait(Run& run, int ms) {
  const uint64_t before = run.link->elapsedMs();
  const int got = WaitForSentence(ms);
  const uint64_t took = run.link->elapsedMs() - before;
  bool last = false;
  const int completions = FeedReference(run, &last);
  if (got) {
    FUZZ_CHECK(completions == 1 && last);
    FUZZ_CHECK(took <= static_cast<uint64_t>(ms));
  } else {
    FUZZ_CHECK(completions == 0);
    FUZZ_CHECK(took >= static_cast<uint64_t>(ms) && took <= static_cast<uint64_t>(ms) + 1);
  }
  FUZZ_CHECK(run.reference.text() == SentenceTextForTesting());
}

void Reset(Run& run) {
  const uint64_t before = run.link->elapsedMs();
  ResetSentenceReader();
  // Ends with a read that found nothing (1 ms), so every byte that was
  // readable before that read has been taken.
  FUZZ_CHECK(run.link->elapsedMs() == before + 1);
  FUZZ_CHECK(run.link->nextAtMs() >= run.link->elapsedMs());
  run.seen = run.link->consumedCount();
  run.reference.close();
  FUZZ_CHECK(*SentenceTextForTesting() == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Run run;
  DriveReader(in, run, Poll, Wait, Reset);
  return 0;
}
