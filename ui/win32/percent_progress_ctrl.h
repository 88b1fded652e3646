// CPercentProgressCtrl: the progress window's bar. It takes over the
// window's progress control (class "msctls_progress32") by subclassing it and
// paints it entirely on its own: the filled part from the left in the
// highlight colour, the rest in the window colour, and the percentage (or
// the override text) centred over both with DrawTextA, each part's letters
// in the colour that contrasts with it. Every paint is composed off-screen
// (COffscreenDC) and copied in one BitBlt; SetPos repaints only when the
// filled width changes by a pixel. The geometry and text are the shared
// core's (ui/bar_geometry.h).
//
// Messages it handles itself: WM_ERASEBKGND (nothing: the paint covers every
// pixel), WM_PAINT, WM_SIZE (the next SetPos repaints), WM_SETTEXT and
// WM_GETTEXT (the override text); every other message gets the progress
// control's own handling. Its range and position are its own: the control's
// PBM_ messages are not used.
//
// Threads: the window thread.
#ifndef VELMORA_UI_WIN32_PERCENT_PROGRESS_CTRL_H_
#define VELMORA_UI_WIN32_PERCENT_PROGRESS_CTRL_H_

#include <string>

#include "ui/win32/win32.h"

class CPercentProgressCtrl {
 public:
  // Reads the four colours (GetSysColor); they are never read again.
  CPercentProgressCtrl();
  ~CPercentProgressCtrl();
  CPercentProgressCtrl(const CPercentProgressCtrl&) = delete;
  CPercentProgressCtrl& operator=(const CPercentProgressCtrl&) = delete;

  // Takes over control `id` of `parent`. The control's own text is not taken
  // over: the override text starts empty.
  bool SubclassDlgItem(int id, HWND parent);
  HWND hwnd() const { return hwnd_; }

  // Stores the bounds; nothing is redrawn and the filled width is kept.
  // Nothing keeps lower below upper or the position inside the range.
  void SetRange(int lower, int upper);
  // Stores `newPosition` and repaints at once (RedrawWindow) when the filled
  // width changed; returns the previous position, or -1 (nothing stored)
  // while the bar has no window.
  int SetPos(int newPosition);
  int GetPos() const { return position; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnPaint();

  HWND hwnd_ = nullptr;

  int position = 0;
  int upperBound = 100;
  int lowerBound = 0;
  std::string overrideText;
  int filledWidth = -1;  // as SetPos last computed it; -1 after a resize
  const COLORREF barColour;
  const COLORREF backColour;
  const COLORREF textOnBackColour;
  const COLORREF textOnBarColour;
};

#endif  // VELMORA_UI_WIN32_PERCENT_PROGRESS_CTRL_H_
