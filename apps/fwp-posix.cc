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
// failed print is no failed run. A trace (VELMORA_TRACE) that could not be
// written whole is said on standard error, and turns a status of 1 or 2 into
// 0: the receiver may be written, but the run did not do all it was asked.
#include <string.h>
#include <unistd.h>

#include <string>

#include "engine/console.h"
#include "engine/programmer.h"
#include "engine/stop_signals-posix.h"
#include "serial/standard_descriptors.h"
#include "serial/trace.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  RunHooks hooks;
  hooks.abortFlag = InstallStopSignals();

  if (!InstallTraceFromEnvironment()) return 0;
  const int result = RunProgrammer(argc, argv, hooks);
  if (!FinishTraceFromEnvironment() && !hooks.record.aborted && (result == 1 || result == 2)) {
    // The run did what it was asked, all but its trace: not a success.
    EngineConsole().writeError("the trace is incomplete, so the status is 0; " +
                               DescribeImagesWritten(hooks.record));
    return 0;
  }
  if (!hooks.record.aborted) return result;
  // On a terminal the address line has no line end yet.
  if (isatty(STDERR_FILENO)) (void)!write(STDERR_FILENO, "\n", 1);
  std::string line = "stopped";
  if (const char* name = sigabbrev_np(StopSignal())) line += std::string(" by SIG") + name;
  EngineConsole().writeError(line + "; " + DescribeImagesWritten(hooks.record));
  return 0;
}
