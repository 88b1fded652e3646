// The Win32 face's one way to the platform's headers: windows.h makes a macro
// of WM_USER, which engine/progress.h defines as a constant of its own, so
// progress.h comes first. Also the face's small helpers.
//
// Threads: the window thread.
#ifndef VELMORA_UI_WIN32_WIN32_H_
#define VELMORA_UI_WIN32_WIN32_H_

#include <string>

#include "engine/progress.h"

// After the engine's headers (see above).
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

// The program's module: where its resources are.
HINSTANCE ModuleInstance();

// Text `id` of the string table (resources/velmora.rc), or an empty text.
std::string LoadText(int id);

// A message box captioned "Velmora", owned by `owner`, without icon; `buttons`
// is MB_OK or MB_YESNO. Returns the button pressed (IDOK, IDYES, IDNO).
int ShowMessage(HWND owner, const std::string& text, UINT buttons);

#endif  // VELMORA_UI_WIN32_WIN32_H_
