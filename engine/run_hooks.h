// What a caller hooks into one programming run, and what the run records
// for it: the argument of RunProgrammer (programmer.h).
//
// ProgrammerMain runs with none of them: nothing aborts it but the run flag
// (progress.h), nobody is told its stages, and its record is dropped.
//
// Inside the engine, the hooks of the run in progress are part of its
// process-wide state, like the programming rate and the image set: one run
// at a time. RunProgrammer installs them for the length of the run
// (RunHooksScope); detection, the transfer and the waits read them through
// CurrentRunHooks().
//
// Threads: the hooks are filled before the run and read by the thread that
// runs it; the abort flag may be set from any thread or a signal handler,
// and the record is written by the run and read once it has returned.
#ifndef VELMORA_ENGINE_RUN_HOOKS_H_
#define VELMORA_ENGINE_RUN_HOOKS_H_

#include <atomic>

#include "engine/run_observer.h"
#include "engine/run_report.h"

struct RunHooks {
  // The console programmer's stop (Ctrl-C and the like): once it is nonzero
  // the run ends at once, whatever the receiver does. Every wait returns at
  // once, detection gives up, the transfer sends nothing more and the run
  // flag reads as 0. Null: nothing aborts the run.
  std::atomic<int>* abortFlag = nullptr;
  // Told the run's stages as it passes them; null: nobody.
  RunObserver* observer = nullptr;
  // What the run did; reset at its start.
  RunRecord record;
};

// The hooks of the run in progress; outside a run (and for an operation
// called on its own, as tests do), hooks with nothing set.
RunHooks& CurrentRunHooks();

// Installs `hooks` as the run's for the scope's life. Scopes do not nest:
// one run at a time.
class RunHooksScope {
 public:
  explicit RunHooksScope(RunHooks& hooks);
  ~RunHooksScope();
  RunHooksScope(const RunHooksScope&) = delete;
  RunHooksScope& operator=(const RunHooksScope&) = delete;
};

#endif  // VELMORA_ENGINE_RUN_HOOKS_H_
