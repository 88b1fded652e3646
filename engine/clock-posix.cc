// The process clock on POSIX: CLOCK_MONOTONIC, counted from the first use,
// which static initialisation makes the start of the process.
#include <time.h>

#include "engine/clock.h"

namespace {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class MonotonicClock : public Clock {
 public:
  MonotonicClock() : start_(MonotonicMs()) {}
  int32_t nowMs() override { return static_cast<int32_t>(MonotonicMs() - start_); }
  void idle() override {
    // A quarter of a millisecond: short against the 1 ms resolution of the
    // waits, long enough that a Delay does not keep a core busy.
    timespec pause = {0, 250000};
    nanosleep(&pause, nullptr);
  }

 private:
  int64_t start_;
};

MonotonicClock g_processClock;

}  // namespace

Clock& PlatformClock() {
  return g_processClock;
}
