#include "ui/win32/port_dialog.h"

#include "resources/velmora_rc.h"
#include "ui/port_entry.h"
#include "ui/win32/update_progress_dialog.h"

namespace {

// Private messages of the dialog.
constexpr UINT kShowDiscoveryFailure = WM_APP + 1;
// Polls, while "Update" is disabled, for a finishing worker to return.
constexpr UINT_PTR kWorkerWatch = 1;

}  // namespace

POINT IconicIconOrigin(const RECT& client, int iconWidth, int iconHeight) {
  return {(client.right - client.left - iconWidth + 1) / 2,
          (client.bottom - client.top - iconHeight + 1) / 2};
}

CPortDialog::CPortDialog(Discovery discovery, std::string commandTemplate,
                         RunChannel::Engine engine)
    : appIcon(LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      discovery_(std::move(discovery)),
      commandTemplate_(std::move(commandTemplate)),
      engine_(std::move(engine)) {}

INT_PTR CPortDialog::DoModal() {
  return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_PORT_DIALOG), nullptr,
                         DialogObjectProc<CPortDialog>, reinterpret_cast<LPARAM>(this));
}

INT_PTR CPortDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;  // the focus where the dialog manager puts it
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          OnUpdate();
          return TRUE;
        case IDCANCEL:  // "Close", Escape, the close box
          EndDialog(hwnd_, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(appIcon);
    case WM_TIMER:
      if (wParam == kWorkerWatch && !RunChannel::process().workerRunning()) {
        KillTimer(hwnd_, kWorkerWatch);
        EnableWindow(GetDlgItem(hwnd_, IDOK), TRUE);
      }
      return TRUE;
    case kShowDiscoveryFailure:
      ShowMessage(hwnd_, discoveryFailure_, MB_OK);
      return TRUE;
    default:
      (void)lParam;
      return FALSE;
  }
}

void CPortDialog::OnInitDialog() {
  portCombo = GetDlgItem(hwnd_, IDC_PORT_COMBO);
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
  FillPortList();
}

void CPortDialog::FillPortList() {
  PortList ports;
  try {
    discovery_(ports, false);
  } catch (const PortDiscoveryError& error) {
    // The ports found before the failure are still listed; the box comes
    // once the dialog is up, over it.
    discoveryFailure_ = error.what();
    PostMessageA(hwnd_, kShowDiscoveryFailure, 0, 0);
  }
  for (const PortRecord& port : ports) {
    if (!PortIsListed(port)) continue;
    SendMessageA(portCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PortEntryText(port).c_str()));
  }
  SendMessageA(portCombo, CB_SETCURSEL, 0, 0);
}

void CPortDialog::OnUpdate() {
  // No new run while the last one's worker is still finishing: the engine
  // serves one run at a time.
  if (RunChannel::process().workerRunning()) return;
  char entry[256] = "";
  GetWindowTextA(portCombo, entry, sizeof entry);
  CUpdateProgressDialog progress(commandTemplate_, engine_);
  progress.portNumber = PortNumberOfEntry(entry);
  if (progress.DoModal(hwnd_) == IDOK) {
    updateComplete = true;
    PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    return;
  }
  if (RunChannel::process().workerRunning()) {
    EnableWindow(GetDlgItem(hwnd_, IDOK), FALSE);
    SetTimer(hwnd_, kWorkerWatch, 100, nullptr);
  }
}

bool CPortDialog::OnPaint() {
  if (!IsIconic(hwnd_)) return false;  // the default painting
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd_, &client);
  const POINT at =
      IconicIconOrigin(client, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(dc, at.x, at.y, appIcon);
  EndPaint(hwnd_, &paint);
  return true;
}
