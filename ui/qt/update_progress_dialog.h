// CUpdateProgressDialog: the modal progress window of one update. When it is
// first shown it starts the run on the process's RunChannel; the engine's
// progress messages move its bar, and the worker's PROGRESS_FINISHED makes it
// show the outcome and close: Accepted after a complete update, Rejected
// otherwise. The box of a failed update holds what the programmer printed as
// its details.
//
// Closing it (close box, Escape) while the worker runs asks whether to stop,
// with the worker held wherever it is until the answer (at the engine's
// run-flag checks, in its timed waits, before it posts the outcome, so no
// outcome box comes over the question); Yes stops the run: the run flag is
// cleared and the engine's waits end at once. Any other close ends the
// window at once.
//
// While there is no percentage to show the bar says why: "Looking for the
// receiver..." from the start until the transfer posts its total, and
// "Stopping..." from a Yes until the window closes.
//
// Threads: the window thread. The worker reaches the window only through
// events posted via the RunChannel.
#ifndef VELMORA_UI_QT_UPDATE_PROGRESS_DIALOG_H_
#define VELMORA_UI_QT_UPDATE_PROGRESS_DIALOG_H_

#include <QDialog>
#include <string>

#include "ui/qt/run_events.h"
#include "ui/run_channel.h"

class CPercentProgressCtrl;

class CUpdateProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CUpdateProgressDialog(QWidget* parent = nullptr);
  ~CUpdateProgressDialog() override;

  // Set by the caller before the window is run.
  int portNumber = 0;
  // The command template the worker builds its words from; by default the
  // application's arguments after its name.
  std::string commandTemplate;
  // What the worker runs: RunProgrammer unless replaced.
  RunChannel::Engine engine;

  CPercentProgressCtrl* progressBar;

  // Close handling: asks to stop while the run goes on, else closes.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void customEvent(QEvent* event) override;

 private:
  void OnInitDialog();
  void OnFinished(int32_t outcome);

  bool started_ = false;
  QtRunTarget target_{this};
};

#endif  // VELMORA_UI_QT_UPDATE_PROGRESS_DIALOG_H_
