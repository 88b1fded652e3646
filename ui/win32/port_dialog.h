// CPortDialog: the application's main dialog (dialog 102). It lists the
// serial ports that discovery finds (one entry per port: the text between
// the brackets of its friendly name, such as COM3; the first selected), and
// "Update" (the button, or Enter) runs the progress window modally for the
// selected entry's port number, the dialog disabled meanwhile. After a
// complete update the dialog closes itself, which ends the program;
// otherwise it stays open for another attempt. "Update" stays disabled
// while a stopped run's worker is still finishing.
//
// A discovery error is shown in a "Velmora" box once the dialog is up; the
// ports found before it stay listed. Minimised, the dialog paints its icon
// centred and gives it as the icon to drag.
//
// Threads: the window thread.
#ifndef VELMORA_UI_WIN32_PORT_DIALOG_H_
#define VELMORA_UI_WIN32_PORT_DIALOG_H_

#include <functional>
#include <string>

#include "serial/port_discovery.h"
#include "ui/run_channel.h"
#include "ui/win32/win32.h"

// Where the minimised dialog draws its icon: centred in the client area,
// the divisions truncating toward zero.
POINT IconicIconOrigin(const RECT& client, int iconWidth, int iconHeight);

class CPortDialog {
 public:
  using Discovery = std::function<void(PortList&, bool)>;

  // Loads the application icon; `discovery` fills the list (discoverPorts
  // in the program), `commandTemplate` and `engine` go to each progress
  // window.
  CPortDialog(Discovery discovery, std::string commandTemplate, RunChannel::Engine engine);

  // Runs the dialog modally; IDCANCEL whichever way it closes.
  INT_PTR DoModal();

  // Whether an update completed; the dialog then closed by itself.
  bool updateComplete = false;

 private:
  template <class Dialog>
  friend INT_PTR CALLBACK DialogObjectProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void FillPortList();
  void OnUpdate();
  bool OnPaint();

  HICON appIcon;
  HWND portCombo = nullptr;
  HWND hwnd_ = nullptr;
  Discovery discovery_;
  std::string commandTemplate_;
  RunChannel::Engine engine_;
  std::string discoveryFailure_;
};

#endif  // VELMORA_UI_WIN32_PORT_DIALOG_H_
