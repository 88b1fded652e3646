#include "engine/run_report.h"

#include "engine/clock.h"
#include "engine/console.h"

RunRecord g_lastRun;
int32_t g_startTime = 0;

void PrintRunReport(const int outcomes[kSlotCount]) {
  // Taken modulo 2^32, as the wait timer takes it, so a clock that wraps
  // during the run still gives the time the run took.
  const uint32_t elapsedMs =
      static_cast<uint32_t>(EngineClock().nowMs()) - static_cast<uint32_t>(g_startTime);
  const double seconds = elapsedMs * 0.001;
  if (outcomes[0] == kWritten)
    Print("\nBOOT CODE OK!");
  else if (outcomes[0] == kWriteProtected)
    Print("\nBOOT CODE WriteProtect!");
  for (int slot = 1; slot < kSlotCount; ++slot)
    if (outcomes[slot] != kNotWritten) Print("%s", kImageTable[slot].reportLine);
  Print("\nProgramming time : %0.2f secs\n", seconds);
  Print("Press any key.\n");
  EngineConsole().waitForKey();
}

std::string DescribeImagesWritten() {
  std::string written, notWritten;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!g_lastRun.present[slot]) continue;
    std::string& list = g_lastRun.outcomes[slot] == kWritten ? written : notWritten;
    list += (list.empty() ? "" : ", ") + ImageName(slot);
  }
  return "written: " + (written.empty() ? "none" : written) +
         "; not written: " + (notWritten.empty() ? "none" : notWritten);
}
