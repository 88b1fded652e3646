// velmora-sim: a simulated receiver on a pseudo-terminal.
//
// Makes the terminal, registers it as a COM alias, prints the device path and
// the COM name on standard output and serves programmers that open the
// device, one session (open to close) after another, until stopped; with
// --once it ends after the first session (sim/simulator.h). Every way out
// (--once, SIGTERM, SIGINT, SIGHUP, the line going away, an error after
// start-up) writes the records asked for and removes the alias; after a way
// out that cannot be caught (SIGKILL, or a second stop signal, which ends the
// program at once: engine/stop_signals-posix.h) the alias is left behind but
// no longer followed. A COM number that another running simulator holds is refused.
// Exit status: 0 ended as asked, 1 could not run (terminal, alias or record
// files), 2 bad command line (sim/sim_options.h).
#include <cstdio>

#include "engine/stop_signals-posix.h"
#include "serial/standard_descriptors.h"
#include "sim/sim_options.h"
#include "sim/simulator.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  SimOptions options;
  const SimCommandLine line = ParseSimCommandLine(argc, argv, &options);
  if (line.kind == SimCommandLine::Kind::kHelp) {
    std::fputs(line.text.c_str(), stdout);
    return 0;
  }
  if (line.kind == SimCommandLine::Kind::kBad) {
    std::fprintf(stderr, "velmora-sim: %s\nTry 'velmora-sim --help' for the options.\n",
                 line.text.c_str());
    return 2;
  }
  InstallStopSignals();
  return Simulator(options).run(StopSignal);
}
