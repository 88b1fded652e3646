// Progress messages and the run flag: what the programmer and a front end
// share during a run.
//
// The transfer posts PROGRESS_SET_TOTAL and PROGRESS_SET_POSITION to
// g_hProgressWnd; the front end's worker posts PROGRESS_FINISHED. Posting
// never waits for the window. The run flag flows the other way: 1 lets the
// run go on, 0 stops it at the transfer's next check.
//
// The console programmer stops differently: the abort flag it hooks into the
// run (run_hooks.h) ends the run at once, whatever the receiver does.
//
// Threads: g_pRunFlag and g_hProgressWnd are set before the run starts (by
// the front end's window thread) and only read while it runs. The run flag
// itself is written by the window thread and read by the worker. With
// neither set nothing is posted and the flag reads as 1.
#ifndef VELMORA_ENGINE_PROGRESS_H_
#define VELMORA_ENGINE_PROGRESS_H_

#include <atomic>
#include <cstdint>

// The window message that carries every progress code: the platform's
// WM_USER, the first message number free for a program's own use.
constexpr unsigned kProgressMessage = 1024;

// Progress codes (the message's first parameter).
enum ProgressCode : unsigned {
  PROGRESS_SET_TOTAL = 1,     // value: the run's total image bytes
  PROGRESS_SET_POSITION = 2,  // value: image bytes covered so far
  PROGRESS_FINISHED = 3,      // value: an outcome below
};

// Outcomes, carried by PROGRESS_FINISHED.
enum Outcome : int32_t {
  OUTCOME_NOT_COMPLETE = 0,
  OUTCOME_COMPLETE = 1,
  OUTCOME_STOPPED = 2,
};

// Whatever a front end gives the engine to post to.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  // Queues one message for the window's thread. Must not block, and may be
  // called from any thread.
  virtual void PostMessage(unsigned message, unsigned code, int32_t value) noexcept = 0;

  // Called on the engine's thread at every run-flag check, just before the
  // flag is read, and at every turn of the timed waits (reply_reader.h). A
  // front end that asks the user whether to stop holds the run here while
  // the question is shown, so the run makes no progress meanwhile wherever
  // it is. It must not wait for anything the caller of the check holds.
  // Returns whether it waited; returns false at once by default.
  virtual bool WaitWhileHeld() noexcept { return false; }
};

extern ProgressWindow* g_hProgressWnd;
extern std::atomic<int>* g_pRunFlag;

// Posts kProgressMessage with `code` and `value` to g_hProgressWnd, if there
// is one.
void PostProgress(unsigned code, int32_t value);

// Waits while g_hProgressWnd holds the run; whether it did.
bool WaitWhileRunHeld();

// The run flag as the engine reads it: afresh at every call, 1 when no flag
// is published, 0 once the run is aborted. Waits first while g_hProgressWnd
// holds the run.
int ReadRunFlag();

// Whether the abort flag of the run in progress (run_hooks.h) is set.
bool RunAborted();

#endif  // VELMORA_ENGINE_PROGRESS_H_
