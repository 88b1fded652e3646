// The engine's millisecond clock.
//
// Every time-out of the programmer is measured on this clock: milliseconds
// since the process started, read as a signed 32-bit value. The platform clock
// is monotonic wall time (never processor time, which would stretch every
// polling wait far past its time-out).
//
// Threads: the clock in force is read by the thread that runs the programmer;
// SetEngineClock is called only while no run is in progress.
#ifndef VELMORA_ENGINE_CLOCK_H_
#define VELMORA_ENGINE_CLOCK_H_

#include <cstdint>

// Abstract so tests can run the engine on virtual time.
class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since a fixed start.
  virtual int32_t nowMs() = 0;

  // Called by a wait that reads nothing (Delay) between two looks at the
  // clock: lets a little time pass without burning the processor. Returns
  // within about 1 ms.
  virtual void idle() = 0;

  // A wait tells the clock when its time will be up (the first reading at
  // which it has run out) when it starts, with `waiting` true, and that it has
  // ended, with `waiting` false. In between the engine only reads the line
  // and looks at the clock, so a clock that can let idle time pass at once (a
  // test's virtual clock) may skip ahead to that reading, and never past it.
  // The platform clock ignores it.
  virtual void waiting(bool /*waiting*/, int32_t /*timeUpMs*/) {}
};

// The monotonic process clock; starts at 0 when the process starts.
Clock& PlatformClock();

// The clock in force: PlatformClock() unless a test installed another.
Clock& EngineClock();

// Installs `clock` (which must outlive its use); null restores PlatformClock().
void SetEngineClock(Clock* clock);

#endif  // VELMORA_ENGINE_CLOCK_H_
