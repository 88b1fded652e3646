// fwp: the console programmer. Its exit status is the run's result:
// 2 every image written, 1 receiver ready and nothing to write, 3 the
// receiver reported a failed image, 0 failure.
//
// Stopping: the first Ctrl-C (or SIGTERM, or SIGHUP) aborts the run: every
// wait ends at once, nothing more is sent, the port is closed with its
// settings put back, and the status is 0 with one line on standard error
// naming the images that were written. A second one ends the process at once,
// after putting back the settings of the port and the terminal.
//
// A closed standard output never stops a run: SIGPIPE is ignored and a
// failed print is no failed run.
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "engine/console.h"
#include "engine/programmer.h"
#include "engine/progress.h"
#include "serial/saved_terminals-posix.h"
#include "serial/trace.h"

namespace {

std::atomic<int> g_abortFlag{0};
volatile sig_atomic_t g_stopSignal = 0;

void OnStop(int signal) {
  if (g_abortFlag.exchange(1) != 0) {
    RestoreSavedTerminals();
    ::signal(signal, SIG_DFL);
    raise(signal);
    return;
  }
  g_stopSignal = signal;
}

}  // namespace

int main(int argc, char** argv) {
  static_assert(std::atomic<int>::is_always_lock_free, "the signal handler stores the flag");
  g_pAbortFlag = &g_abortFlag;
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a key wait ends on the signal
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!InstallTraceFromEnvironment()) return 0;
  const int result = ProgrammerMain(argc, argv);
  if (!g_lastRun.aborted) return result;
  // On a terminal the address line has no line end yet.
  if (isatty(STDERR_FILENO)) (void)!write(STDERR_FILENO, "\n", 1);
  std::string line = "stopped";
  if (const char* name = sigabbrev_np(g_stopSignal)) line += std::string(" by SIG") + name;
  EngineConsole().writeError(line + "; " + DescribeImagesWritten());
  return 0;
}
