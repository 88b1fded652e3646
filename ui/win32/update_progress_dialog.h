// CUpdateProgressDialog: the modal progress window of one update (dialog
// 129). Its initialisation starts the run on the process's RunChannel with
// this window as the post target: the worker and the engine post WM_USER
// messages to it (wParam the progress code, lParam the value), which move
// the bar, and PROGRESS_FINISHED makes it show the outcome and close: IDOK
// after a complete update, IDCANCEL otherwise.
//
// A close request (the close box, Escape, or its own WM_CLOSE) while the run
// may go on and the worker still runs (a 1 ms WaitForSingleObject on it
// times out) asks "Do you want to stop updating?"; Yes stops the run (the
// run flag cleared, the engine's waits ended at once). The worker is held
// wherever it is while the question is shown (at the engine's run-flag
// checks, in its timed waits, before it posts the outcome, so no outcome box
// comes over the question), not suspended: a thread suspended anywhere may
// hold the C runtime's or the process heap's lock, which the message box
// needs, and the window thread would hang. Any other close ends the window
// at once, also while a stopped worker is still finishing (the channel then
// keeps the flag valid and 0 and drops the worker's last posts).
//
// While there is no percentage to show the bar says why: "Looking for the
// receiver..." from the start until the transfer posts its total, and
// "Stopping..." from a Yes until the window closes.
//
// Threads: the window thread.
#ifndef VELMORA_UI_WIN32_UPDATE_PROGRESS_DIALOG_H_
#define VELMORA_UI_WIN32_UPDATE_PROGRESS_DIALOG_H_

#include <string>

#include "ui/run_channel.h"
#include "ui/win32/percent_progress_ctrl.h"
#include "ui/win32/win32.h"

class CUpdateProgressDialog {
 public:
  // `commandTemplate`: the programmer's command line with "<COMPORT>";
  // `engine`: what the worker runs (RunProgrammer in the program).
  CUpdateProgressDialog(std::string commandTemplate, RunChannel::Engine engine);
  ~CUpdateProgressDialog();

  // Set by the caller before DoModal.
  int portNumber = 0;

  // Runs the window modally over `owner` (disabled meanwhile); IDOK after a
  // complete update, IDCANCEL otherwise (also when an earlier run's worker
  // is still finishing: nothing is started then).
  INT_PTR DoModal(HWND owner);

  CPercentProgressCtrl progressBar;

 private:
  // Posts the run's messages to the window while it exists.
  class Target final : public RunTarget {
   public:
    HWND hwnd = nullptr;
    void Post(unsigned code, int32_t value) noexcept override;
  };

  template <class Dialog>
  friend INT_PTR CALLBACK DialogObjectProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnProgress(WPARAM code, LPARAM value);
  void OnFinished(int32_t outcome);
  void OnClose();
  bool WorkerStillRunning();

  std::string commandTemplate_;
  RunChannel::Engine engine_;
  HWND hwnd_ = nullptr;
  Target target_;
  bool started_ = false;
  bool complete_ = false;  // "Update complete!" was shown: IDOK closes
};

#endif  // VELMORA_UI_WIN32_UPDATE_PROGRESS_DIALOG_H_
