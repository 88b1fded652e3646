// velmora.exe's resources, linked into this test as into the program: the
// manifest (common controls 6, DPI awareness), and the dialogs and the bar
// at the screen's scale. scripts/test-windows.sh runs the scale tests at 96,
// 120, 144 and 192 LogPixels, with $VELMORA_TEST_DPI naming the one set.
// Needs a display.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/velmora_rc.h"
#include "ui/bar_geometry.h"
#include "ui/win32/percent_progress_ctrl.h"
#include "ui/win32/win32.h"

namespace {

INT_PTR CALLBACK NoHandling(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

HWND MakeDialog(int id) {
  return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, NoHandling,
                            0);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

class ScaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    dpi = ScreenDpi();
    // The program sees the screen's own scale, not a stand-in of 96.
    if (const char* set = std::getenv("VELMORA_TEST_DPI")) {
      EXPECT_EQ(dpi, std::atoi(set));
    }
  }
  int dpi = 96;
};

// Only version 6 of the common controls answers a button's ideal size; the
// manifest asks for it, and for the screen's scale.
TEST(ManifestTest, CommonControls6AndTheScreensScale) {
  HWND button = CreateWindowExA(0, "Button", "Update", WS_POPUP, 0, 0, 80, 24, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(button, nullptr);
  SIZE ideal{};
  EXPECT_TRUE(SendMessageA(button, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
  DestroyWindow(button);
  EXPECT_NE(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()),
            DPI_AWARENESS_UNAWARE);
}

struct Fit {
  HFONT font;
  RECT client;
  std::vector<std::string> misfits;
};

BOOL CALLBACK CheckChild(HWND child, LPARAM data) {
  auto* fit = reinterpret_cast<Fit*>(data);
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  char text[64] = "";
  GetWindowTextA(child, text, sizeof text);
  const std::string name = "control " + std::to_string(GetDlgCtrlID(child)) + " \"" + text + "\"";
  if (r.left < 0 || r.top < 0 || r.right > fit->client.right || r.bottom > fit->client.bottom)
    fit->misfits.push_back(name + " outside the dialog");
  char kind[32] = "";
  GetClassNameA(child, kind, sizeof kind);
  if (text[0] && (std::string(kind) == "Button" || std::string(kind) == "Static")) {
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, fit->font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::string(text).size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    if (extent.cx > r.right - r.left || extent.cy > r.bottom - r.top)
      fit->misfits.push_back(name + " text larger than the control");
  }
  return TRUE;
}

// Each dialog in its font at the screen's scale, its size in dialog units
// as the resource gives it, every control inside it and every text inside
// its control.
TEST_F(ScaleTest, DialogsAtTheScreensScale) {
  const struct {
    int id, width, height, points;
  } dialogs[] = {{IDD_PORT_DIALOG, 133, 67, 9}, {IDD_UPDATE_PROGRESS, 187, 23, 10}};
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.id);
    HWND dialog = MakeDialog(d.id);
    ASSERT_NE(dialog, nullptr);
    Fit fit{reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), {}, {}};
    LOGFONTA font{};
    GetObjectA(fit.font, sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(d.points, dpi, 72));
    RECT units{0, 0, d.width, d.height};
    MapDialogRect(dialog, &units);
    GetClientRect(dialog, &fit.client);
    EXPECT_EQ(fit.client.right, units.right);
    EXPECT_EQ(fit.client.bottom, units.bottom);
    EnumChildWindows(dialog, CheckChild, reinterpret_cast<LPARAM>(&fit));
    EXPECT_TRUE(fit.misfits.empty()) << fit.misfits.front();
    DestroyWindow(dialog);
  }
}

// The bar at `position` of 1000 with `text` as its override text, captured
// from the screen.
struct BarPixels {
  int width = 0, height = 0, split = 0;
  std::vector<COLORREF> pixels;
  COLORREF at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

BarPixels CaptureBar(const char* text, int position) {
  BarPixels b;
  HWND dialog = MakeDialog(IDD_UPDATE_PROGRESS);
  CPercentProgressCtrl bar;
  if (!dialog || !bar.SubclassDlgItem(IDC_PROGRESS_BAR, dialog)) return b;
  SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  UpdateWindow(dialog);
  SetWindowTextA(bar.hwnd(), text);
  bar.SetRange(0, 1000);
  bar.SetPos(position);
  UpdateWindow(bar.hwnd());
  RECT client;
  GetClientRect(bar.hwnd(), &client);
  MapWindowPoints(bar.hwnd(), nullptr, reinterpret_cast<POINT*>(&client), 2);
  b.width = client.right - client.left;
  b.height = client.bottom - client.top;
  b.split = FilledWidth(b.width, 0, 1000, position);
  HDC screen = GetDC(nullptr);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      b.pixels.push_back(GetPixel(screen, client.left + x, client.top + y));
  ReleaseDC(nullptr, screen);
  DestroyWindow(dialog);
  return b;
}

int Distance(COLORREF a, COLORREF b) {
  return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
         std::abs(GetBValue(a) - GetBValue(b));
}

// With no letters (a blank for its text), every device pixel of the bar a
// third full is in the colour of the part it lies in: the highlight left of
// the split, the window's colour right of it. Half full, the percentage's
// letters show on both sides: pixels nearer to the letters' colour there
// than to the ground's.
TEST_F(ScaleTest, BarPixelsAtTheScreensScale) {
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT), window = GetSysColor(COLOR_WINDOW);
  const BarPixels fills = CaptureBar(" ", 333);
  ASSERT_GT(fills.width, 0);
  int wrong = 0;
  std::string first;
  for (int y = 0; y < fills.height; ++y)
    for (int x = 0; x < fills.width; ++x)
      if (fills.at(x, y) != (x < fills.split ? highlight : window) && ++wrong == 1)
        first = std::to_string(x) + "," + std::to_string(y);
  EXPECT_EQ(wrong, 0) << "the first at " << first << " of " << fills.width << "x" << fills.height
                      << ", split at " << fills.split;

  const BarPixels text = CaptureBar("", 500);
  int onBar = 0, onGround = 0;
  for (int y = 0; y < text.height; ++y)
    for (int x = 0; x < text.width; ++x) {
      const COLORREF c = text.at(x, y);
      if (x < text.split && Distance(c, window) < Distance(c, highlight)) ++onBar;
      if (x >= text.split && Distance(c, highlight) < Distance(c, window)) ++onGround;
    }
  EXPECT_GT(onBar, 0);
  EXPECT_GT(onGround, 0);
}

}  // namespace
