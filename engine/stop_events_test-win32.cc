// fwp.exe's console events: a close, logoff or shutdown waits for the run to
// end before the system may end the process; Ctrl-C only asks.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/stop_events-win32.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

TEST(StopEventsTest, EndingEventsWaitForTheRunToEnd) {
  const struct {
    unsigned long event;
    const char* name;
    bool waits;
  } cases[] = {
      {CTRL_CLOSE_EVENT, "the console closing", true},
      {CTRL_LOGOFF_EVENT, "logoff", true},
      {CTRL_SHUTDOWN_EVENT, "shutdown", true},
      {CTRL_C_EVENT, "Ctrl-C", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetStopEventsForTesting();
    // The run: ends 300 ms after it sees the abort flag, putting its port
    // back meanwhile.
    std::atomic<bool> ended{false};
    std::thread run([&] {
      while (!Stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ended = true;
      RunEnded();
    });
    const auto start = SteadyClock::now();
    EXPECT_TRUE(OnStopEvent(c.event));
    const auto took = SteadyClock::now() - start;
    EXPECT_EQ(ended.load(), c.waits);
    EXPECT_LT(took, std::chrono::milliseconds(c.waits ? kCloseWaitMs : 200));
    EXPECT_TRUE(Stopped());
    EXPECT_STREQ(StopEventName(), c.name);
    run.join();
  }
  // A second Ctrl-C is the system's to handle: it ends the process.
  EXPECT_FALSE(OnStopEvent(CTRL_C_EVENT));
}

}  // namespace
