// fwp: the console programmer. Its exit status is the run's result:
// 2 every image written, 1 receiver ready and nothing to write, 3 the
// receiver reported a failed image, 0 failure.
#include <signal.h>

#include <atomic>

#include "engine/programmer.h"
#include "engine/progress.h"

namespace {

std::atomic<int> g_runFlag{1};

// The first Ctrl-C stops the transfer at its next check, so the run ends and
// closes the port; a second one ends the process at once.
void OnInterrupt(int) {
  if (g_runFlag.exchange(0) == 0) {
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
  }
}

}  // namespace

int main(int argc, char** argv) {
  static_assert(std::atomic<int>::is_always_lock_free, "the signal handler stores the flag");
  g_pRunFlag = &g_runFlag;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a key wait ends on Ctrl-C
  sigaction(SIGINT, &action, nullptr);
  return ProgrammerMain(argc, argv);
}
