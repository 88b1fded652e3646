// Stopping a run by signal, for a program that runs the engine on its main
// thread (fwp, and each of velmora-line's port processes).
//
// After InstallStopSignals, the first SIGINT, SIGTERM or SIGHUP sets the
// abort flag it returns, which the program hooks into its run (RunHooks), so
// the run ends at its next check and puts its port back itself. A second one cannot wait for that:
// it puts back every saved terminal (RestoreSavedTerminals) and ends the process by that signal.
// The handlers do not restart system calls, so a wait in one (a key wait, a read) ends on the
// signal. SIGPIPE is ignored: a reader that went away makes writes fail instead of ending the
// process.
//
// Threads and signals: InstallStopSignals once, from the main thread, before
// the run; StopSignal from anywhere.
#ifndef VELMORA_ENGINE_STOP_SIGNALS_POSIX_H_
#define VELMORA_ENGINE_STOP_SIGNALS_POSIX_H_

#include <atomic>

std::atomic<int>* InstallStopSignals();

// The signal that stopped the run: 0 while none has come.
int StopSignal();

#endif  // VELMORA_ENGINE_STOP_SIGNALS_POSIX_H_
