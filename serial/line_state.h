// How a serial backend keeps track of a line going away.
//
// A write that fails, or that the device takes nothing of for two seconds,
// marks the line as going: every later write fails at once (writeFailed()),
// so that the programmer does not wait each one out. A read that cannot go on
// (the device reports an error or a hang-up), or that finds nothing once the
// line is going, marks it gone, but only when it brought nothing: what
// arrived before the line went still counts. A failed read still keeps its
// time-out, so that polling loops do not spin on a line that has gone.
//
// Threads: the thread that uses the link.
#ifndef VELMORA_SERIAL_LINE_STATE_H_
#define VELMORA_SERIAL_LINE_STATE_H_

#include <chrono>
#include <cstddef>
#include <thread>

class LineState {
 public:
  bool gone() const { return gone_; }
  bool writeFailed() const { return writeFailed_; }

  // A write failed or stalled. Returns false, the failed write's result.
  bool failWrite() {
    writeFailed_ = true;
    return false;
  }

  // A read that brought `got` bytes cannot go on: waits until `deadline`,
  // the read's time-out, and returns `got`.
  size_t failRead(std::chrono::steady_clock::time_point deadline, size_t got) {
    if (got == 0) gone_ = true;
    std::this_thread::sleep_until(deadline);
    return got;
  }

 private:
  bool writeFailed_ = false;
  bool gone_ = false;
};

#endif  // VELMORA_SERIAL_LINE_STATE_H_
