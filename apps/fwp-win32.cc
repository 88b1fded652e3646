// fwp: the console programmer. Its exit status is the run's result:
// 2 every image written, 1 receiver ready and nothing to write, 3 the
// receiver reported a failed image, 0 failure.
//
// Stopping: the first Ctrl-C (or Ctrl-Break, or the console window closing)
// aborts the run: every wait ends at once, nothing more is sent, the port is
// closed with its settings put back, and the status is 0 with one line on
// standard error naming the event and the images that were written. A second
// one ends the process at once (the system's own handling of the event).
#include <atomic>
#include <cstdio>
#include <string>

#include "engine/console.h"
#include "engine/programmer.h"
#include "engine/progress.h"
#include "serial/standard_descriptors.h"

// After the engine's headers: windows.h makes a macro of WM_USER, which
// progress.h defines as a constant of its own.
#include <io.h>
#include <windows.h>

namespace {

std::atomic<int> g_abortFlag{0};
std::atomic<DWORD> g_stopEvent{0};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (g_abortFlag.exchange(1) != 0) return FALSE;  // the second: the system ends us
      g_stopEvent = event;
      return TRUE;
    default:
      return FALSE;
  }
}

const char* EventName(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    default:
      return "the console closing";
  }
}

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  g_pAbortFlag = &g_abortFlag;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

  const int result = ProgrammerMain(argc, argv);
  if (!g_lastRun.aborted) return result;
  // On a console the address line has no line end yet.
  if (_isatty(_fileno(stderr))) std::fputs("\n", stderr);
  const std::string line = std::string("stopped by ") + EventName(g_stopEvent);
  EngineConsole().writeError(line + "; " + DescribeImagesWritten());
  return 0;
}
