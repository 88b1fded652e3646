// CUpdaterApp: the application. It runs one modal dialog, the port dialog,
// and the program ends when that dialog closes. Each run's printed output is
// recorded by the run's console (RunChannel), and echoed to standard output
// when that is a terminal; the programmer's waits for a key return at once.
//
// Threads: the window thread (the one that constructs it).
#ifndef VELMORA_UI_QT_UPDATER_APP_H_
#define VELMORA_UI_QT_UPDATER_APP_H_

#include <QApplication>

#include "ui/run_channel.h"

class CUpdaterApp : public QApplication {
  Q_OBJECT

 public:
  // Takes Qt's own options out of argc and argv; the words left after the
  // program's name are the command template.
  CUpdaterApp(int& argc, char** argv);
  ~CUpdaterApp() override;

  // Runs the port dialog modally, then waits for a worker that may still be
  // finishing a stopped run. Returns false: the program then ends.
  bool InitInstance();

  // The program's exit status after InitInstance: 0 when the dialog closed
  // after "Update complete!", 1 when it closed without a complete update.
  int ExitStatus() const { return updateComplete_ ? 0 : 1; }

 private:
  // Started from a terminal, the program shows there what fwp would print.
  RunOutputScope output_;
  bool updateComplete_ = false;
};

#endif  // VELMORA_UI_QT_UPDATER_APP_H_
