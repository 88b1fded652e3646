#include "engine/stop_events-win32.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<int> g_abortFlag{0};
std::atomic<DWORD> g_stopEvent{0};
// Set once the run has ended; made at install, before any event can come.
HANDLE g_runEnded = nullptr;

BOOL WINAPI Handler(DWORD event) {
  return OnStopEvent(event) ? TRUE : FALSE;
}

}  // namespace

std::atomic<int>* InstallStopEvents() {
  if (!g_runEnded) g_runEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(Handler, TRUE);
  return &g_abortFlag;
}

bool Stopped() {
  return g_abortFlag.load() != 0;
}

const char* StopEventName() {
  switch (g_stopEvent.load()) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_LOGOFF_EVENT:
      return "logoff";
    case CTRL_SHUTDOWN_EVENT:
      return "shutdown";
    default:
      return "the console closing";
  }
}

void RunEnded() {
  if (g_runEnded) SetEvent(g_runEnded);
}

bool OnStopEvent(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (g_abortFlag.exchange(1) != 0) return false;  // the second: the system ends us
      g_stopEvent = event;
      return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Also after a Ctrl-C whose stop is still under way.
      if (g_abortFlag.exchange(1) == 0) g_stopEvent = event;
      if (g_runEnded) WaitForSingleObject(g_runEnded, kCloseWaitMs);
      return true;
    default:
      return false;
  }
}

void ResetStopEventsForTesting() {
  g_abortFlag = 0;
  g_stopEvent = 0;
  if (!g_runEnded) g_runEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(g_runEnded);
}
