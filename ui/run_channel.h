// What one programming run shares between the progress window and its
// worker: the run flag and the abort flag, the target the engine posts to,
// the hold that pauses the worker while the stop question is shown, the
// console that records what the run prints, and the worker thread itself. Plain C++: each face
// gives it a RunTarget that turns the posts into its own window messages or events.
//
// There is one channel per process (the engine's state is process-wide too),
// and it outlives every progress window: a window that closes while its
// worker is still finishing leaves the flag valid and 0 and the post target
// detached, so the worker's last messages go nowhere. start() refuses a new
// run while the old worker has not returned.
//
// The hold pauses the worker wherever it is: at the engine's run-flag
// checks, in its timed waits, and before the worker posts the run's outcome,
// so no outcome arrives while the question is up. A stop (Yes) clears the
// run flag and sets the abort flag, which the worker hooks into the run
// (engine/run_hooks.h) and which ends every wait of the engine at once: the
// run ends within moments wherever it was.
//
// Threads: start, workerRunning, detach, hold, release, stop, waitForWorker
// and the flags' writes belong to the window thread; PostMessage,
// WaitWhileHeld, postOutcome and markWorkerEnded to the worker. The window thread never waits for
// the worker except in waitForWorker, which the application calls after its last window has gone.
#ifndef VELMORA_UI_RUN_CHANNEL_H_
#define VELMORA_UI_RUN_CHANNEL_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/progress.h"
#include "engine/run_hooks.h"
#include "ui/run_console.h"

// Where a run's progress messages go: a face's window. Post is called on the
// worker thread with the channel's post lock held; it must queue the message
// for the window thread and return without waiting for it.
class RunTarget {
 public:
  virtual ~RunTarget() = default;
  virtual void Post(unsigned code, int32_t value) noexcept = 0;
};

class RunChannel final : public ProgressWindow {
 public:
  // The engine's entry with the run's hooks: RunProgrammer in the program.
  using Engine = std::function<int(int, char**, RunHooks&)>;

  // What the worker runs: read by the worker only after start() has stored
  // it, never written while a worker is alive.
  struct Run {
    int portNumber = 0;
    std::string commandTemplate;
    Engine engine;
  };

  static RunChannel& process();

  RunChannel() = default;
  ~RunChannel() override;  // waits for the worker
  RunChannel(const RunChannel&) = delete;
  RunChannel& operator=(const RunChannel&) = delete;

  // Sets the run flag to 1 and the abort flag to 0, publishes g_pRunFlag
  // and g_hProgressWnd, makes
  // `target` the post target, clears `console` and makes it the engine's,
  // and starts the worker on `run`. False (and nothing changed) while an
  // earlier worker has not returned.
  bool start(RunTarget* target, Run run);

  // Whether the worker has not yet returned.
  bool workerRunning() const;

  // The worker's thread, for a face that waits on it with its platform's
  // calls; valid from start() until the next start() or waitForWorker().
  std::thread::native_handle_type workerHandle() { return worker_.native_handle(); }

  // Whether a close request asks the stop question: the run may go on and
  // its worker is still running.
  bool stopQuestionNeeded() const { return runFlag.load() == 1 && workerRunning(); }

  // `target` goes away: later posts to it are dropped.
  void detach(const RunTarget* target);

  // Holds the worker at its next run-flag check, timed-wait turn or before
  // it posts the outcome, until release(). False (and nothing held) once the
  // worker has posted its outcome: the question then has nothing to stop.
  bool hold();
  void release();

  // The user stopped the run: the run flag 0, the abort flag 1.
  void stop();

  // Joins a worker that is still finishing.
  void waitForWorker();

  std::atomic<int> runFlag{0};
  std::atomic<int> abortFlag{0};

  // What the current (or last) run printed.
  RunConsole console;

  // The lock the worker holds while it posts: a face that reads what the
  // worker put into a posted message takes it first, which orders the two
  // for race checkers that cannot see inside the toolkit's queue.
  std::unique_lock<std::mutex> lockPosts() const { return std::unique_lock(postMutex_); }

  // Worker side.
  const Run& current() const { return run_; }
  void markWorkerEnded() { workerEnded_.store(true); }
  void PostMessage(unsigned message, unsigned code, int32_t value) noexcept override;
  bool WaitWhileHeld() noexcept override;
  // Waits while held, then posts PROGRESS_FINISHED with the outcome of
  // `result` and the run flag as it is then.
  void postOutcome(int result);

 private:
  Run run_;
  std::thread worker_;
  std::atomic<bool> workerEnded_{true};

  mutable std::mutex postMutex_;
  RunTarget* target_ = nullptr;

  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  bool held_ = false;
  bool outcomePosted_ = false;
};

// The process's run output for the application's lifetime (each face's
// CUpdaterApp holds one): from construction, each run's printed output is
// echoed to standard output when StandardOutputIsTerminal(); at destruction
// a worker that may still be finishing is waited for, the echo stops and the
// engine's console is put back. Threads: the window thread.
class RunOutputScope {
 public:
  RunOutputScope();
  ~RunOutputScope();
  RunOutputScope(const RunOutputScope&) = delete;
  RunOutputScope& operator=(const RunOutputScope&) = delete;
};

#endif  // VELMORA_UI_RUN_CHANNEL_H_
