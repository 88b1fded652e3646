// fwp: the console programmer. Its exit status is the run's result:
// 2 every image written, 1 receiver ready and nothing to write, 3 the
// receiver reported a failed image, 0 failure.
//
// Stopping: the first Ctrl-C (or Ctrl-Break, the console window closing,
// logoff or shutdown) aborts the run: every wait ends at once, nothing more
// is sent, the port is closed with its settings put back, and the status is
// 0 with one line on standard error naming the event and the images that
// were written. A second Ctrl-C ends the process at once (the system's own
// handling). Closing, logoff and shutdown end the process once the run has
// ended, or after 5 s (engine/stop_events-win32.h).
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/programmer.h"
#include "engine/stop_events-win32.h"
#include "engine/utf8-win32.h"
#include "serial/standard_descriptors.h"

namespace {

int Finish(int result, const RunRecord& record) {
  if (!record.aborted) return result;
  // On a console the address line has no line end yet.
  if (_isatty(_fileno(stderr))) std::fputs("\n", stderr);
  const std::string line = std::string("stopped by ") + StopEventName();
  EngineConsole().writeError(line + "; " + DescribeImagesWritten(record));
  return 0;
}

}  // namespace

// The command line in UTF-16 (linked with -municode), its words kept as
// UTF-8: image paths in any letters reach the wide file calls.
int wmain(int argc, wchar_t** argv) {
  EnsureStandardDescriptors();
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.push_back(Utf8FromWide(argv[i]));
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);

  RunHooks hooks;
  hooks.abortFlag = InstallStopEvents();
  const int status = Finish(RunProgrammer(argc, pointers.data(), hooks), hooks.record);
  RunEnded();
  return status;
}
