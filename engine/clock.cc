#include "engine/clock.h"

namespace {
Clock* g_clock = nullptr;
}  // namespace

Clock& EngineClock() {
  return g_clock ? *g_clock : PlatformClock();
}

void SetEngineClock(Clock* clock) {
  g_clock = clock;
}
