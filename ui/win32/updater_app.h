// CUpdaterApp: the application. InitInstance runs one modal dialog, the port
// dialog, and returns false: the program then ends. Each run's printed
// output is recorded by the run's console (RunChannel) and echoed to
// standard output when the program has one.
//
// Threads: the window thread (the one that constructs it).
#ifndef VELMORA_UI_WIN32_UPDATER_APP_H_
#define VELMORA_UI_WIN32_UPDATER_APP_H_

#include "ui/run_channel.h"

class CUpdaterApp {
 public:
  // Registers the common controls, runs the port dialog with the command
  // template (the command line after the program's name), then waits for a
  // worker that may still be finishing a stopped run. Returns false.
  bool InitInstance();

  // The program's exit status after InitInstance: 0 when the dialog closed
  // after "Update complete!", 1 when it closed without a complete update.
  int ExitStatus() const { return updateComplete_ ? 0 : 1; }

 private:
  RunOutputScope output_;
  bool updateComplete_ = false;
};

#endif  // VELMORA_UI_WIN32_UPDATER_APP_H_
