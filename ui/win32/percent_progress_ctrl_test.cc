// The bar's window text on a real progress control (under Wine in the
// tests). The control's class is a Unicode one, so the system hands the
// subclass WM_SETTEXT and WM_GETTEXT with wide texts whichever way the
// sender asked; the override text must come out as it went in, either way.
// Needs a display: run by scripts/test-windows.sh beside the end-to-end test.
#include "ui/win32/percent_progress_ctrl.h"

#include <gtest/gtest.h>

#include <string>

#include "resources/velmora_rc.h"

namespace {

class BarTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 40, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    ASSERT_NE(
        CreateWindowExA(0, PROGRESS_CLASSA, "resource text", WS_CHILD | WS_VISIBLE, 0, 0, 180, 20,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)),
                        GetModuleHandleA(nullptr), nullptr),
        nullptr);
    ASSERT_TRUE(bar.SubclassDlgItem(IDC_PROGRESS_BAR, parent));
  }
  void TearDown() override {
    if (parent) DestroyWindow(parent);
  }

  std::string TextA() {
    char text[64] = "";
    const int length = GetWindowTextA(bar.hwnd(), text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
  }
  std::wstring TextW() {
    wchar_t text[64] = L"";
    const int length = GetWindowTextW(bar.hwnd(), text, 64);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
  }

  HWND parent = nullptr;
  CPercentProgressCtrl bar;
};

TEST_F(BarTextTest, OverrideTextRoundTripsThroughNarrowAndWideCalls) {
  // The resource's text is not taken over.
  EXPECT_EQ(TextA(), "");
  struct Step {
    bool wide;
    const char* narrow;
    const wchar_t* wideText;
  };
  const Step steps[] = {
      {false, "Looking for the receiver...", L"Looking for the receiver..."},
      {true, "Stopping...", L"Stopping..."},
      {false, "", L""},
      {true, "50%", L"50%"},
      {true, "", L""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.narrow);
    if (step.wide)
      SetWindowTextW(bar.hwnd(), step.wideText);
    else
      SetWindowTextA(bar.hwnd(), step.narrow);
    EXPECT_EQ(TextA(), step.narrow);
    EXPECT_EQ(TextW(), step.wideText);
  }
}

// A buffer shorter than the text gets what it holds, unterminated, and
// nothing past it; the result is the number of characters copied.
TEST_F(BarTextTest, ShortBufferGetsWhatItHolds) {
  SetWindowTextA(bar.hwnd(), "Stopping...");
  wchar_t text[8] = L"#######";
  EXPECT_EQ(SendMessageW(bar.hwnd(), WM_GETTEXT, 5, reinterpret_cast<LPARAM>(text)), 5);
  EXPECT_EQ(std::wstring(text, 7), L"Stopp##");
  EXPECT_EQ(SendMessageW(bar.hwnd(), WM_GETTEXT, 7, reinterpret_cast<LPARAM>(text)), 7);
  EXPECT_EQ(std::wstring(text, 7), L"Stoppin");
}

}  // namespace
