// velmora-sim's transcript (--log): the bytes of both directions as they
// crossed the simulated line, and the simulator's events, written as they
// come. The format is in velmora-sim --help:
//
//   TIME DIR BAUD FATE HEX [=> HEX] |TEXT|    a run of up to 16 bytes
//   TIME # WHAT                               an event
//
// The first line is a '#' header. Runs of bytes with the same direction,
// rate and fate that follow each other closely (three byte times, at least
// 2 ms) share a line.
//
// Threads: one object is used from one thread at a time.
#ifndef VELMORA_SIM_TRANSCRIPT_LOG_H_
#define VELMORA_SIM_TRANSCRIPT_LOG_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/receiver_model.h"

class TranscriptLog {
 public:
  using Entry = ReceiverModel::TranscriptEntry;

  // Writes the header line to `file`, which stays the caller's.
  explicit TranscriptLog(FILE* file);

  // One byte, as the model recorded it.
  void add(const Entry& e);

  // A line for something that happened at `ms`.
  void event(int64_t ms, const std::string& what);

  // Writes a run that nothing has joined for a while, and hands the file to
  // the system now and then, so the transcript can be followed as it grows.
  void tick(int64_t ms);

  // Everything written; false when the file could not take it.
  bool finish();

 private:
  static constexpr size_t kPerLine = 16;

  void flushRun();

  FILE* file_;
  std::vector<Entry> run_;
  int64_t lastFlushMs_ = 0;
};

#endif  // VELMORA_SIM_TRANSCRIPT_LOG_H_
