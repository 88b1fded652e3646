// The process clock on Windows: the steady clock (the performance counter),
// counted from the first use, which static initialisation makes the start of
// the process.
//
// Windows wakes sleeping threads and ends serial time-outs on its timer tick,
// 15.6 ms unless a program asks for less. The clock asks for 1 ms for as long
// as the process runs, so that the 1 ms read time-out of the serial port and
// the clock's idle wait mean what they say.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <chrono>

#include "engine/clock.h"

namespace {

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class SteadyClock : public Clock {
 public:
  SteadyClock() : start_(SteadyMs()) { timeBeginPeriod(1); }
  ~SteadyClock() override { timeEndPeriod(1); }
  int32_t nowMs() override { return static_cast<int32_t>(SteadyMs() - start_); }
  // One timer tick: 1 ms with the resolution asked for above.
  void idle() override { Sleep(1); }

 private:
  int64_t start_;
};

SteadyClock g_processClock;

}  // namespace

Clock& PlatformClock() {
  return g_processClock;
}
