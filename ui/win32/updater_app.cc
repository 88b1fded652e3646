#include "ui/win32/updater_app.h"

#include "engine/programmer.h"
#include "engine/utf8-win32.h"
#include "serial/port_discovery.h"
#include "ui/run_channel.h"
#include "ui/update_thread.h"
#include "ui/win32/port_dialog.h"
#include "ui/win32/win32.h"

bool CUpdaterApp::InitInstance() {
  // The progress control's window class.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  {
    CPortDialog dialog(
        [](PortList& list, bool requireOpenable) { discoverPorts(list, requireOpenable); },
        CommandTail(Utf8FromWide(GetCommandLineW()).c_str()), RunProgrammer);
    dialog.DoModal();
    updateComplete_ = dialog.updateComplete;
  }
  // A stopped run whose window was closed at once may still be finishing;
  // the engine's state must not go away under it.
  RunChannel::process().waitForWorker();
  return false;
}
