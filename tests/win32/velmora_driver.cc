// velmora_driver.exe: drives velmora.exe as a user would, for the end-to-end
// test under Wine, and reports what it saw, one line each, on standard
// output:
//   entries N [TEXT...]         the port list when the dialog came up
//   discovery-box TEXT          the box of a port discovery that failed
//   box TEXT [BUTTONS]          a message box: its text and buttons
//   bar "TEXT" fill empty|part|full
//                               then the progress bar's text and filled part,
//                               when the progress window is up
//   boxes N                     how many message boxes are up (detect-no, a
//                               second after the stop question came)
//   closed within 500 ms|closed after N ms
//                               how long the progress window took to close
//                               after Yes (detect-yes)
//   dialog open, update enabled|disabled
//                               the port dialog after the progress window went
//   exit N                      velmora.exe's exit status
//   timeout WHAT                a wait that ran out (velmora.exe is then ended)
//
//   velmora_driver.exe CASE VELMORA_EXE OUTPUT SHOTS [TEMPLATE...]
//   velmora_driver.exe CASE SCRIPT.cmd OUTPUT SHOTS
// CASE: complete (Update, answer OK), failed (Update twice, each not
// complete, then close the dialog), stop-no and stop-yes (Update, once the
// bar shows a percentage close the progress window and answer the question;
// after Yes close the dialog); detect-no and detect-yes (Update, close the
// progress window while it looks for the receiver and answer the question:
// No a second after it came, which is the test's cue to take the line away,
// then answer the outcome; Yes at once, then close the dialog). OUTPUT
// takes velmora.exe's standard output and error; SHOTS is a folder for BMP
// captures of each window, or "-". The rest of the command line is
// velmora.exe's. With a .cmd file in place of velmora.exe, the driver runs
// it with cmd.exe /c, works the windows of whatever program it starts, and
// reports cmd.exe's exit status; OUTPUT then takes cmd.exe's output.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/velmora_rc.h"

namespace {

constexpr DWORD kWaitMs = 60000;

HANDLE g_process = nullptr;
DWORD g_pid = 0;
bool g_viaScript = false;
std::string g_shots;

void Report(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& what) {
  Report("timeout " + what);
  if (g_process) TerminateProcess(g_process, 99);
  std::exit(1);
}

std::string ClassOf(HWND hwnd) {
  char name[64] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  char text[512] = "";
  DWORD_PTR length = 0;
  // Sent, so that a window that keeps its own text (the bar) answers itself.
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, &length);
  return std::string(text, length);
}

// The process's visible dialogs: the port dialog (it has the port list),
// the progress window (it has the bar) and message boxes (the rest). Told
// apart by their controls, not their titles: a window that is busy closing
// may not answer WM_GETTEXT in time.
struct Windows {
  HWND portDialog = nullptr, progress = nullptr, box = nullptr;
  int boxes = 0;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM data) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  // Started through cmd.exe, velmora.exe is any process but the driver.
  const bool theirs = g_viaScript ? pid != GetCurrentProcessId() : pid == g_pid;
  if (!theirs || !IsWindowVisible(hwnd) || ClassOf(hwnd) != "#32770") return TRUE;
  auto* found = reinterpret_cast<Windows*>(data);
  if (GetDlgItem(hwnd, IDC_PORT_COMBO))
    found->portDialog = hwnd;
  else if (GetDlgItem(hwnd, IDC_PROGRESS_BAR))
    found->progress = hwnd;
  else
    found->box = hwnd, ++found->boxes;
  return TRUE;
}

Windows Find() {
  Windows found;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Polls every 5 ms until `ready` holds; a timeout ends the test.
template <typename Ready>
Windows WaitFor(const std::string& what, Ready ready) {
  const DWORD start = GetTickCount();
  for (;;) {
    const Windows now = Find();
    if (ready(now)) return now;
    if (GetTickCount() - start > kWaitMs) Fail(what);
    Sleep(5);
  }
}

// Captures `hwnd` as it is on the screen: its whole window rectangle, or
// only its client area; 24-bit pixels, bottom-up rows.
struct Capture {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;
  COLORREF at(int x, int y) const {
    const size_t row = ((static_cast<size_t>(width) * 3 + 3) & ~size_t{3});
    const unsigned char* p = &pixels[(height - 1 - y) * row + x * 3];
    return RGB(p[2], p[1], p[0]);
  }
};

Capture Grab(HWND hwnd, bool clientOnly) {
  RECT r;
  if (clientOnly) {
    GetClientRect(hwnd, &r);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
  } else {
    GetWindowRect(hwnd, &r);
  }
  Capture c;
  c.width = r.right - r.left;
  c.height = r.bottom - r.top;
  if (c.width <= 0 || c.height <= 0) return c;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), c.width, c.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, c.width, c.height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const size_t row = ((static_cast<size_t>(c.width) * 3 + 3) & ~size_t{3});
  c.pixels.assign(static_cast<unsigned char*>(bits),
                  static_cast<unsigned char*>(bits) + row * c.height);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return c;
}

void Shoot(HWND hwnd, const std::string& name) {
  if (g_shots.empty() || g_shots == "-") return;
  Sleep(100);  // the window painted
  const Capture c = Grab(hwnd, false);
  const size_t row = ((static_cast<size_t>(c.width) * 3 + 3) & ~size_t{3});
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{sizeof header, c.width, c.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + row * c.height);
  FILE* out = std::fopen((g_shots + "\\" + name + ".bmp").c_str(), "wb");
  if (!out) return;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&header, sizeof header, 1, out);
  std::fwrite(c.pixels.data(), 1, c.pixels.size(), out);
  std::fclose(out);
}

// The bar's filled part: "empty", "part" or "full" ("-" without a bar), from
// the run of the highlight colour from the client's
// left edge along its top and bottom rows (the text's letters lie between).
std::string Fill(HWND progress) {
  HWND bar = progress ? GetDlgItem(progress, IDC_PROGRESS_BAR) : nullptr;
  if (!bar) return "-";
  const Capture c = Grab(bar, true);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  int filled = 0;
  for (int y : {0, c.height - 1}) {
    int x = 0;
    while (x < c.width && c.at(x, y) == highlight) ++x;
    filled = std::max(filled, x);
  }
  if (c.width <= 0) return "-";
  return filled == 0 ? "empty" : filled == c.width ? "full" : "part";
}

std::string BarText(HWND progress) {
  HWND bar = progress ? GetDlgItem(progress, IDC_PROGRESS_BAR) : nullptr;
  return bar ? "\"" + TextOf(bar) + "\"" : "-";
}

BOOL CALLBACK CollectBoxText(HWND child, LPARAM data) {
  auto* parts = reinterpret_cast<std::pair<std::string, std::string>*>(data);
  const std::string kind = ClassOf(child);
  std::string text = TextOf(child);
  if (kind == "Static" && !text.empty()) parts->first = text;
  if (kind == "Button" && IsWindowVisible(child)) {
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    parts->second += parts->second.empty() ? text : " " + text;
  }
  return TRUE;
}

// Reports the box that is up, and the bar when the progress window is up: a
// run that ends at once may show its box before the system has first shown
// the window.
void Describe(const Windows& w, const std::string& shot) {
  std::pair<std::string, std::string> parts;
  EnumChildWindows(w.box, CollectBoxText, reinterpret_cast<LPARAM>(&parts));
  Report("box " + parts.first + " [" + parts.second + "]");
  if (w.progress) Report("bar " + BarText(w.progress) + " fill " + Fill(w.progress));
  Shoot(w.box, shot);
}

// Answers the box with button `answer` and waits for it to close.
void Click(const Windows& w, int answer) {
  HWND button = GetDlgItem(w.box, answer);
  if (!button) Fail("the box's button " + std::to_string(answer));
  PostMessageA(button, BM_CLICK, 0, 0);
  WaitFor("the box to close", [&](const Windows& now) { return now.box != w.box; });
}

void Answer(const Windows& w, int answer, const std::string& shot) {
  Describe(w, shot);
  Click(w, answer);
}

void ClickUpdate(HWND dialog) {
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}

HWND WaitForPortDialog() {
  return WaitFor("the port dialog",
                 [](const Windows& w) {
                   return w.portDialog && IsWindowEnabled(w.portDialog) && !w.progress && !w.box;
                 })
      .portDialog;
}

// The port dialog once the progress window has gone; "Update" may stay
// disabled for a moment while a stopped run's worker returns.
void ReportDialog() {
  const HWND dialog = WaitForPortDialog();
  HWND update = GetDlgItem(dialog, IDOK);
  for (int i = 0; i < 400 && !IsWindowEnabled(update); ++i) Sleep(5);
  Report(std::string("dialog open, update ") + (IsWindowEnabled(update) ? "enabled" : "disabled"));
}

void WaitForExit() {
  if (WaitForSingleObject(g_process, kWaitMs) != WAIT_OBJECT_0) Fail("velmora.exe to end");
  DWORD status = 0;
  GetExitCodeProcess(g_process, &status);
  Report("exit " + std::to_string(status));
}

// Waits for the progress window's bar to show a percentage with some of it
// filled: the transfer is under way.
Windows WaitForTransfer() {
  return WaitFor("the transfer", [](const Windows& w) {
    if (!w.progress || w.box) return false;
    const std::string fill = Fill(w.progress);
    return BarText(w.progress) == "\"\"" && (fill == "part" || fill == "full");
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: velmora_driver CASE VELMORA_EXE OUTPUT SHOTS [TEMPLATE...]\n");
    return 2;
  }
  const std::string which = argv[1];
  g_shots = argv[4];
  const std::string program = argv[2];
  g_viaScript = program.size() > 4 && program.substr(program.size() - 4) == ".cmd";
  std::string command = (g_viaScript ? "cmd.exe /c \"" : "\"") + program + "\"";
  for (int i = 5; i < argc; ++i) command += std::string(" ") + argv[i];

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileA(argv[3], GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    std::fprintf(stderr, "velmora_driver: cannot start %s (error %lu)\n", argv[2], GetLastError());
    return 2;
  }
  CloseHandle(output);
  CloseHandle(started.hThread);
  g_process = started.hProcess;
  g_pid = started.dwProcessId;

  HWND dialog = WaitFor("the port dialog", [](const Windows& w) {
                  return w.portDialog != nullptr;
                }).portDialog;
  HWND combo = GetDlgItem(dialog, IDC_PORT_COMBO);
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  std::string entries = "entries " + std::to_string(count);
  for (LRESULT i = 0; i < count; ++i) {
    // In UTF-16: Wine passes an entry's ANSI text to another process only
    // up to its first character.
    wchar_t wide[256] = L"";
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
    char text[256] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    entries += std::string(" ") + text;
  }
  Report(entries);
  // A discovery that failed says so in a box over the dialog, posted as the
  // dialog came up: reported and answered before the case begins.
  Sleep(200);
  if (const Windows w = Find(); w.box) {
    std::pair<std::string, std::string> parts;
    EnumChildWindows(w.box, CollectBoxText, reinterpret_cast<LPARAM>(&parts));
    Report("discovery-box " + parts.first);
    PostMessageA(GetDlgItem(w.box, IDOK), BM_CLICK, 0, 0);
    dialog = WaitForPortDialog();
  }
  Shoot(dialog, "port-dialog");

  const auto boxUp = [](const Windows& w) { return w.box != nullptr; };
  if (which == "complete") {
    ClickUpdate(dialog);
    Shoot(WaitForTransfer().progress, "progress-window");
    Answer(WaitFor("the outcome", boxUp), IDOK, "update-complete");
    WaitForExit();
  } else if (which == "failed") {
    for (int attempt = 0; attempt < 2; ++attempt) {
      ClickUpdate(WaitForPortDialog());
      Answer(WaitFor("the outcome", boxUp), IDOK, "update-not-complete");
      ReportDialog();
    }
    PostMessageA(WaitForPortDialog(), WM_CLOSE, 0, 0);
    WaitForExit();
  } else if (which == "stop-no" || which == "stop-yes") {
    ClickUpdate(dialog);
    const Windows running = WaitForTransfer();
    PostMessageA(running.progress, WM_CLOSE, 0, 0);
    const bool yes = which == "stop-yes";
    Answer(WaitFor("the stop question", boxUp), yes ? IDYES : IDNO, "stop-question");
    if (yes) {
      // No box: the window closes by itself once the run has stopped.
      const Windows after = WaitFor("the progress window to close",
                                    [](const Windows& w) { return w.box || !w.progress; });
      if (after.box) Answer(after, IDOK, "unexpected");
      ReportDialog();
      PostMessageA(WaitForPortDialog(), WM_CLOSE, 0, 0);
    } else {
      Answer(WaitFor("the outcome", boxUp), IDOK, "update-complete-after-no");
    }
    WaitForExit();
  } else if (which == "detect-no" || which == "detect-yes") {
    ClickUpdate(dialog);
    const Windows looking = WaitFor("the search for the receiver", [](const Windows& w) {
      return w.progress && !w.box && BarText(w.progress) == "\"Looking for the receiver...\"";
    });
    PostMessageA(looking.progress, WM_CLOSE, 0, 0);
    const Windows question = WaitFor("the stop question", boxUp);
    Describe(question, "stop-question-looking");
    if (which == "detect-no") {
      // Meanwhile the engine's wait ends, failed: its outcome must wait.
      Sleep(1000);
      Report("boxes " + std::to_string(Find().boxes));
      Click(question, IDNO);
      Answer(WaitFor("the outcome", boxUp), IDOK, "update-not-complete-after-no");
    } else {
      const DWORD yes = GetTickCount();
      Click(question, IDYES);
      const Windows after = WaitFor("the progress window to close",
                                    [](const Windows& w) { return w.box || !w.progress; });
      const DWORD took = GetTickCount() - yes;
      Report(took < 500 ? "closed within 500 ms" : "closed after " + std::to_string(took) + " ms");
      if (after.box) Answer(after, IDOK, "unexpected");
    }
    ReportDialog();
    PostMessageA(WaitForPortDialog(), WM_CLOSE, 0, 0);
    WaitForExit();
  } else {
    TerminateProcess(g_process, 99);
    std::fprintf(stderr, "velmora_driver: unknown case %s\n", which.c_str());
    return 2;
  }
  return 0;
}
