// Stopping a run by console event, for fwp.exe, which runs the engine on its
// main thread.
//
// After InstallStopEvents, the first Ctrl-C, Ctrl-Break, console close,
// logoff or shutdown sets the abort flag it returns, which the program hooks
// into its run (RunHooks), so the run ends at its next check and puts its
// port back itself. A second Ctrl-C or
// Ctrl-Break ends the process at once (the system's own handling). The
// system ends the process as soon as the handler of a close, logoff or
// shutdown returns, so that handler waits until the program says the run
// has ended (RunEnded), for at most kCloseWaitMs: the port is closed and its
// settings put back before the process goes.
//
// Threads: InstallStopEvents and RunEnded from the main thread;
// OnStopEvent runs on a thread that the system starts for each event.
#ifndef VELMORA_ENGINE_STOP_EVENTS_WIN32_H_
#define VELMORA_ENGINE_STOP_EVENTS_WIN32_H_

#include <atomic>

constexpr unsigned long kCloseWaitMs = 5000;

std::atomic<int>* InstallStopEvents();

// Whether an event stopped the run, and which ("Ctrl-C", "Ctrl-Break", "the
// console closing", "logoff" or "shutdown").
bool Stopped();
const char* StopEventName();

// The run has ended and its port is put back: the process may go.
void RunEnded();

// The handler itself (InstallStopEvents installs it): true when `event` (a
// CTRL_*_EVENT code) is handled here, false to pass it on.
bool OnStopEvent(unsigned long event);

// Back to the state before any event, with a run under way (tests).
void ResetStopEventsForTesting();

#endif  // VELMORA_ENGINE_STOP_EVENTS_WIN32_H_
