// What one programming run shares between the progress window and its
// worker: the run flag, the target the engine posts to, the hold that pauses
// the worker while the stop question is shown, the console that records what
// the run prints, and the worker thread itself.
//
// There is one channel per process (the engine's state is process-wide too),
// and it outlives every progress window: a window that closes while its
// worker is still finishing leaves the flag valid and 0 and the post target
// detached, so the worker's last messages go nowhere. start() refuses a new
// run while the old worker has not returned.
//
// Threads: start, workerRunning, detach, hold, release, waitForWorker and the
// flag's writes belong to the window thread; PostMessage, WaitWhileHeld and
// markWorkerEnded to the worker. The window thread never waits for the
// worker except in waitForWorker, which the application calls after its
// last window has gone.
#ifndef VELMORA_UI_RUN_CHANNEL_H_
#define VELMORA_UI_RUN_CHANNEL_H_

#include <QEvent>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/progress.h"
#include "ui/run_console.h"

class QObject;

// One of the engine's progress messages (its code and value) as a posted event.
class ProgressEvent : public QEvent {
 public:
  static QEvent::Type eventType();
  ProgressEvent(unsigned progressCode, int32_t progressValue)
      : QEvent(eventType()), code(progressCode), value(progressValue) {}

  const unsigned code;
  const int32_t value;
};

class RunChannel final : public ProgressWindow {
 public:
  using Engine = std::function<int(int, char**)>;

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

  // Sets the flag to 1, publishes g_pRunFlag and g_hProgressWnd, makes
  // `receiver` the post target, clears `console` and makes it the engine's,
  // and starts the worker on `run`. False (and nothing changed) while an
  // earlier worker has not returned.
  bool start(QObject* receiver, Run run);

  // Whether the worker has not yet returned.
  bool workerRunning() const;

  // `receiver` goes away: later posts to it are dropped.
  void detach(const QObject* receiver);

  // Holds the worker at its next run-flag check until release().
  void hold();
  void release();

  // Joins a worker that is still finishing.
  void waitForWorker();

  std::atomic<int> runFlag{0};

  // What the current (or last) run printed.
  RunConsole console;

  // Worker side.
  const Run& current() const { return run_; }
  void markWorkerEnded() { workerEnded_.store(true); }
  void PostMessage(unsigned message, unsigned code, int32_t value) noexcept override;
  void WaitWhileHeld() noexcept override;

  // Window side: the code and value of a delivered event when it is a
  // ProgressEvent, read under the lock the worker held while it made and
  // posted it (which orders the two for race checkers that cannot see inside
  // the toolkit's queue).
  std::optional<std::pair<unsigned, int32_t>> read(const QEvent& event) const;

 private:
  Run run_;
  std::thread worker_;
  std::atomic<bool> workerEnded_{true};

  mutable std::mutex postMutex_;
  QObject* receiver_ = nullptr;

  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  bool held_ = false;
};

#endif  // VELMORA_UI_RUN_CHANNEL_H_
