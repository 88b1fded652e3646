#include "engine/stop_signals-posix.h"

#include <signal.h>

#include <atomic>

#include "serial/saved_terminals-posix.h"

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

std::atomic<int>* InstallStopSignals() {
  static_assert(std::atomic<int>::is_always_lock_free, "the signal handler stores the flag");
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a wait in a system call ends on the signal
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return &g_abortFlag;
}

int StopSignal() {
  return g_stopSignal;
}
