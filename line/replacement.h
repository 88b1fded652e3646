// Station mode (velmora-line --repeat): telling that a port's receiver has
// been replaced, from what the port shows between two runs.
//
// After a run the port is watched in two steps:
//  1. The receiver leaves: the adapter goes away (the port cannot be opened,
//     or the open line reports it gone), or the line goes quiet (not one
//     byte for the quiet time). A receiver that was just programmed restarts
//     into its firmware and talks on, so it is not taken for a new one.
//  2. A receiver talks: at least kTalkBytes bytes arrive within one
//     kTalkWindowMs, on a port that is open. A single stray byte (a plug
//     being pushed in) is not enough.
// Then the next run starts.
//
// The caller opens the port, reads it and reports what it saw; this class
// only keeps time. Times are milliseconds of a steady clock.
//
// Threads: one thread uses a ReplacementWatch.
#ifndef VELMORA_LINE_REPLACEMENT_H_
#define VELMORA_LINE_REPLACEMENT_H_

#include <cstddef>
#include <cstdint>

inline constexpr size_t kTalkBytes = 8;
inline constexpr int64_t kTalkWindowMs = 1000;
inline constexpr int64_t kDefaultQuietMs = 5000;

class ReplacementWatch {
 public:
  enum class Step { kLeaving, kLeftQuiet, kLeftGone, kArrived };

  ReplacementWatch(int64_t startMs, int64_t quietMs) : quietMs_(quietMs), lastByteMs_(startMs) {}

  // What the port showed at `nowMs`: whether it is open and its line there,
  // and how many bytes arrived since the last call. Returns the step reached:
  // kLeaving until the receiver has left, then kLeftQuiet or kLeftGone once
  // (on the call that saw it leave), kLeaving again while waiting for the
  // next, and kArrived once a receiver talks (and from then on).
  Step observe(int64_t nowMs, bool lineThere, size_t bytes);

  bool left() const { return left_; }

 private:
  int64_t quietMs_;
  int64_t lastByteMs_;
  bool left_ = false, arrived_ = false;
  int64_t windowStartMs_ = -1;
  size_t windowBytes_ = 0;
};

#endif  // VELMORA_LINE_REPLACEMENT_H_
