#include "ui/qt/updater_app.h"

#include "ui/qt/port_dialog.h"
#include "ui/run_channel.h"

CUpdaterApp::CUpdaterApp(int& argc, char** argv) : QApplication(argc, argv) {
  setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora.svg")));
  setDesktopFileName(QStringLiteral("velmora"));
}

CUpdaterApp::~CUpdaterApp() = default;

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
