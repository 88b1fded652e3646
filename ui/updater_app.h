// CUpdaterApp: the application. It runs one modal dialog, the port dialog,
// and the program ends when that dialog closes. The programmer's printed
// output is discarded and its waits for a key return at once: the dialog
// tool reads no terminal.
//
// Threads: the window thread (the one that constructs it).
#ifndef VELMORA_UI_UPDATER_APP_H_
#define VELMORA_UI_UPDATER_APP_H_

#include <QApplication>

#include "engine/console.h"

// The engine console of the dialog tool: prints nothing, never waits.
class SilentConsole : public Console {
 public:
  void write(std::string_view) override {}
  void writeError(std::string_view) override {}
  void waitForKey() override {}
};

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

 private:
  SilentConsole console_;
};

#endif  // VELMORA_UI_UPDATER_APP_H_
