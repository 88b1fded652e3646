// velmora-line: programs many receivers at once, one child process per port,
// with a live view, a summary, a run log and a trace per port
// (line/supervisor.h). Linux only so far.
//
// Exit status: 0 when every port's run (every receiver's, in station mode)
// completed; 1 when one did not; 2 when nothing was started (a bad command
// line, an image that cannot be read, a log or trace that cannot be
// written).
#include <cstdio>

#include "line/line_options.h"
#include "line/supervisor.h"
#include "serial/standard_descriptors.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  LineOptions options;
  const LineCommandLine line = ParseLineCommandLine(argc, argv, &options);
  if (line.kind == LineCommandLine::Kind::kHelp) {
    std::fputs(line.text.c_str(), stdout);
    return 0;
  }
  if (line.kind == LineCommandLine::Kind::kBad) {
    std::fputs(line.text.c_str(), stderr);
    return 2;
  }
  return RunLine(options);
}
