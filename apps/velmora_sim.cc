// velmora-sim: a simulated receiver on a pseudo-terminal.
//
// Makes the terminal, registers it as a COM alias, prints the device path and
// the COM name on standard output and serves programmers that open the
// device, one session (open to close) after another, until stopped; with
// --once it ends after the first session (sim/simulator.h). Every way out
// (--once, SIGTERM, SIGINT, SIGHUP, the line going away, an error after
// start-up) writes the records asked for and removes the alias; after a way
// out that cannot be caught (SIGKILL) the alias is left behind but no longer
// followed. A COM number that another running simulator holds is refused.
// Exit status: 0 ended as asked, 1 could not run (terminal, alias or record
// files), 2 bad command line (sim/sim_options.h).
#include <signal.h>

#include <cstdio>

#include "sim/sim_options.h"
#include "sim/simulator.h"

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
  g_stopSignal = signal;
}

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the line's wait ends at once
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
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
  CatchStopSignals();
  return Simulator(options).run([] { return static_cast<int>(g_stopSignal); });
}
