#include "ui/win32/percent_progress_ctrl.h"

#include <algorithm>
#include <cstring>

#include "ui/bar_geometry.h"
#include "ui/win32/offscreen_dc.h"

namespace {

BarRect ToBarRect(const RECT& r) {
  return {r.left, r.top, r.right, r.bottom};
}

RECT ToRect(const BarRect& r) {
  return {r.left, r.top, r.right, r.bottom};
}

void Fill(HDC dc, const BarRect& part, COLORREF colour) {
  const RECT rect = ToRect(part);
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

// The text laid out in the whole client rectangle, centred on one line, but
// drawn only inside `part`.
void DrawClipped(HDC dc, const std::string& text, const RECT& client, const BarRect& part,
                 COLORREF colour) {
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, part.left, part.top, part.right, part.bottom);
  SetTextColor(dc, colour);
  RECT layout = client;
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &layout,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  RestoreDC(dc, saved);
}

// The progress control is a Unicode window: the system hands its window
// procedure (and so this subclass) WM_SETTEXT and WM_GETTEXT with wide
// texts, whatever the sender used. The override text is kept as a multibyte
// string of the program's code page.
bool Wide(HWND hwnd) {
  return IsWindowUnicode(hwnd) != FALSE;
}

std::string TextParameter(HWND hwnd, LPARAM lParam) {
  if (lParam == 0) return {};
  if (!Wide(hwnd)) return reinterpret_cast<const char*>(lParam);
  const auto* wide = reinterpret_cast<const wchar_t*>(lParam);
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? static_cast<size_t>(size) : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.resize(std::strlen(text.c_str()));
  return text;
}

// Copies `text` into the caller's buffer of `size` characters, at most as
// many as it holds (with the terminating NUL when there is room); returns
// the number copied.
LRESULT CopyText(HWND hwnd, const std::string& text, WPARAM size, LPARAM lParam) {
  if (lParam == 0) return 0;
  if (!Wide(hwnd)) {
    const size_t length = std::min(static_cast<size_t>(size), text.size());
    char* buffer = reinterpret_cast<char*>(lParam);
    std::memcpy(buffer, text.data(), length);
    if (length < size) buffer[length] = '\0';
    return static_cast<LRESULT>(length);
  }
  std::wstring wide(text.size() + 1, L'\0');
  const int converted =
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(converted > 0 ? static_cast<size_t>(converted - 1) : 0);
  const size_t length = std::min(static_cast<size_t>(size), wide.size());
  auto* buffer = reinterpret_cast<wchar_t*>(lParam);
  std::memcpy(buffer, wide.data(), length * sizeof(wchar_t));
  if (length < size) buffer[length] = L'\0';
  return static_cast<LRESULT>(length);
}

}  // namespace

CPercentProgressCtrl::CPercentProgressCtrl()
    : barColour(GetSysColor(COLOR_HIGHLIGHT)),
      backColour(GetSysColor(COLOR_WINDOW)),
      textOnBackColour(GetSysColor(COLOR_HIGHLIGHT)),
      textOnBarColour(GetSysColor(COLOR_WINDOW)) {}

CPercentProgressCtrl::~CPercentProgressCtrl() {
  if (hwnd_) RemoveWindowSubclass(hwnd_, SubclassProc, 0);
}

bool CPercentProgressCtrl::SubclassDlgItem(int id, HWND parent) {
  HWND control = GetDlgItem(parent, id);
  if (!control || !SetWindowSubclass(control, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  hwnd_ = control;
  return true;
}

void CPercentProgressCtrl::SetRange(int lower, int upper) {
  lowerBound = lower;
  upperBound = upper;
}

int CPercentProgressCtrl::SetPos(int newPosition) {
  if (!hwnd_) return -1;
  const int old = position;
  position = newPosition;
  RECT client;
  GetClientRect(hwnd_, &client);
  const int w = FilledWidth(client.right - client.left, lowerBound, upperBound, position);
  if (w != filledWidth) {
    filledWidth = w;
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
  return old;
}

LRESULT CALLBACK CPercentProgressCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam,
                                                    LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  auto* bar = reinterpret_cast<CPercentProgressCtrl*>(self);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, SubclassProc, 0);
    bar->hwnd_ = nullptr;
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  return bar->OnMessage(message, wParam, lParam);
}

LRESULT CPercentProgressCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_SIZE: {
      const LRESULT result = DefSubclassProc(hwnd_, message, wParam, lParam);
      filledWidth = -1;
      return result;
    }
    case WM_SETTEXT: {
      const LRESULT result = DefSubclassProc(hwnd_, message, wParam, lParam);
      const std::string newText = TextParameter(hwnd_, lParam);
      if (newText != overrideText) {
        overrideText = newText;
        InvalidateRect(hwnd_, nullptr, TRUE);
      }
      return result;
    }
    case WM_GETTEXT:
      return CopyText(hwnd_, overrideText, wParam, lParam);
    default:
      return DefSubclassProc(hwnd_, message, wParam, lParam);
  }
}

void CPercentProgressCtrl::OnPaint() {
  PAINTSTRUCT paint;
  HDC paintDC = BeginPaint(hwnd_, &paint);
  if (lowerBound < upperBound) {
    RECT client;
    GetClientRect(hwnd_, &client);
    const BarGeometry geometry =
        ComputeBarGeometry(ToBarRect(client), lowerBound, upperBound, position, overrideText);
    COffscreenDC offscreen(paintDC);
    HDC dc = offscreen.dc();
    Fill(dc, geometry.filled, barColour);
    Fill(dc, geometry.empty, backColour);
    SetBkMode(dc, TRANSPARENT);
    DrawClipped(dc, geometry.text, client, geometry.filled, textOnBarColour);
    DrawClipped(dc, geometry.text, client, geometry.empty, textOnBackColour);
  }
  EndPaint(hwnd_, &paint);
}
