// The Win32 face's one way to the platform's headers, and its small helpers.
// windows.h's WM_USER is the engine's progress message (engine/progress.h).
//
// Threads: the window thread.
#ifndef VELMORA_UI_WIN32_WIN32_H_
#define VELMORA_UI_WIN32_WIN32_H_

#include <windows.h>

#include <string>
// After windows.h, which it needs.
#include <commctrl.h>

#include "engine/progress.h"

static_assert(WM_USER == kProgressMessage, "the face handles the engine's progress message");

// The program's module: where its resources are.
HINSTANCE ModuleInstance();

// Text `id` of the string table (resources/velmora.rc), or an empty text.
std::string LoadText(int id);

// A message box captioned "Velmora", owned by `owner`, without icon; `buttons`
// is MB_OK or MB_YESNO. Returns the button pressed (IDOK, IDYES, IDNO).
int ShowMessage(HWND owner, const std::string& text, UINT buttons);

// The dialog procedure of a dialog object run with DialogBoxParamA and the
// object as its parameter: WM_INITDIALOG stores the object in the window
// (DWLP_USER) and its handle in the object's hwnd_; every message, that one
// included, then goes to the object's OnMessage. Messages before
// WM_INITDIALOG get the dialog manager's default handling.
template <class Dialog>
INT_PTR CALLBACK DialogObjectProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    reinterpret_cast<Dialog*>(lParam)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

#endif  // VELMORA_UI_WIN32_WIN32_H_
