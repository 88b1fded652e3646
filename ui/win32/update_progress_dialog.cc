#include "ui/win32/update_progress_dialog.h"

#include <pthread.h>

#include "engine/utf8-win32.h"
#include "resources/strings.h"
#include "resources/velmora_rc.h"

void CUpdateProgressDialog::Target::Post(unsigned code, int32_t value) noexcept {
  PostMessageA(hwnd, WM_USER, code, static_cast<LPARAM>(value));
}

CUpdateProgressDialog::CUpdateProgressDialog(std::string commandTemplate, RunChannel::Engine engine)
    : commandTemplate_(std::move(commandTemplate)), engine_(std::move(engine)) {}

CUpdateProgressDialog::~CUpdateProgressDialog() {
  RunChannel::process().detach(&target_);
}

INT_PTR CUpdateProgressDialog::DoModal(HWND owner) {
  return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_UPDATE_PROGRESS), owner,
                         DialogObjectProc<CUpdateProgressDialog>, reinterpret_cast<LPARAM>(this));
}

INT_PTR CUpdateProgressDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;  // the focus where the dialog manager puts it
    case WM_USER:
      OnProgress(wParam, lParam);
      return TRUE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDCANCEL:  // Escape
          OnClose();
          return TRUE;
        case IDOK:
          // The window has no buttons: Enter must not end a run, only the
          // OK command posted after "Update complete!" closes it.
          if (complete_) EndDialog(hwnd_, IDOK);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_DESTROY:
      RunChannel::process().detach(&target_);
      return FALSE;
    default:
      return FALSE;
  }
}

void CUpdateProgressDialog::OnInitDialog() {
  progressBar.SubclassDlgItem(IDC_PROGRESS_BAR, hwnd_);
  target_.hwnd = hwnd_;
  RunChannel::Run run{portNumber, commandTemplate_, engine_};
  if (!RunChannel::process().start(&target_, std::move(run))) {
    // An earlier run's worker is still finishing: nothing is started.
    PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    return;
  }
  started_ = true;
  // Until the transfer posts its total the run has nothing to count: it
  // loads the images, opens the port and looks for the receiver.
  SetWindowTextA(progressBar.hwnd(), LoadText(IDS_LOOKING).c_str());
}

void CUpdateProgressDialog::OnProgress(WPARAM code, LPARAM value) {
  switch (code) {
    case PROGRESS_SET_TOTAL:
      progressBar.SetRange(0, static_cast<int32_t>(value));
      // The percentage, unless the run is stopping.
      if (RunChannel::process().runFlag.load() == 1) SetWindowTextA(progressBar.hwnd(), "");
      break;
    case PROGRESS_SET_POSITION:
      progressBar.SetPos(static_cast<int32_t>(value));
      break;
    case PROGRESS_FINISHED:
      OnFinished(static_cast<int32_t>(value));
      break;
    default:
      break;
  }
}

void CUpdateProgressDialog::OnFinished(int32_t outcome) {
  RunChannel& run = RunChannel::process();
  switch (outcome) {
    case OUTCOME_NOT_COMPLETE: {
      // The box keeps its one line; what the programmer printed, which says
      // why, goes to the debugger's output (and, echoed as it was printed,
      // to standard output when the program has one).
      const std::string details = run.console.text();
      OutputDebugStringW(WideFromUtf8(details).c_str());
      ShowMessage(hwnd_, LoadText(IDS_NOT_COMPLETE), MB_OK);
      run.runFlag.store(0);
      PostMessageA(hwnd_, WM_CLOSE, 0, 0);
      break;
    }
    case OUTCOME_COMPLETE:
      ShowMessage(hwnd_, LoadText(IDS_COMPLETE), MB_OK);
      complete_ = true;
      PostMessageA(hwnd_, WM_COMMAND, IDOK, 0);
      break;
    case OUTCOME_STOPPED:
      PostMessageA(hwnd_, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

bool CUpdateProgressDialog::WorkerStillRunning() {
  // The worker is a std::thread; on this platform's threads its handle is a
  // pthread whose Win32 thread handle the wait takes.
  if (!started_) return false;
  HANDLE thread = pthread_gethandle(RunChannel::process().workerHandle());
  return thread && WaitForSingleObject(thread, 1) == WAIT_TIMEOUT;
}

void CUpdateProgressDialog::OnClose() {
  RunChannel& run = RunChannel::process();
  // Held at the engine's next check or wait, not suspended (see the
  // header): the question must never wait for a lock the worker holds. A
  // worker that has posted its outcome holds no more: the window closes.
  if (run.runFlag.load() == 1 && WorkerStillRunning() && run.hold()) {
    if (ShowMessage(hwnd_, LoadText(IDS_STOP_QUESTION), MB_YESNO) == IDYES) {
      run.stop();
      SetWindowTextA(progressBar.hwnd(), LoadText(IDS_STOPPING).c_str());
    }
    run.release();
    return;
  }
  EndDialog(hwnd_, IDCANCEL);
}
