#include "ui/qt/updater_app.h"

#include "engine/console.h"
#include "ui/qt/port_dialog.h"
#include "ui/run_channel.h"
#include "ui/terminal.h"

CUpdaterApp::CUpdaterApp(int& argc, char** argv) : QApplication(argc, argv) {
  setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora.svg")));
  setDesktopFileName(QStringLiteral("velmora"));
  // Started from a terminal, the program shows there what fwp would print.
  if (StandardOutputIsTerminal()) RunChannel::process().console.setEcho(&PlatformConsole());
}

CUpdaterApp::~CUpdaterApp() {
  RunChannel::process().waitForWorker();
  RunChannel::process().console.setEcho(nullptr);
  SetEngineConsole(nullptr);
}

bool CUpdaterApp::InitInstance() {
  {
    CPortDialog dialog(
        [](PortList& list, bool requireOpenable) { discoverPorts(list, requireOpenable); });
    dialog.exec();
    updateComplete_ = dialog.updateComplete;
  }
  // A stopped run whose window was closed at once may still be finishing;
  // the engine's state must not go away under it.
  RunChannel::process().waitForWorker();
  return false;
}
