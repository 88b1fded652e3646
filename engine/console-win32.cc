// The console on Windows: stdio for the texts, as the C runtime writes them
// (in the ANSI code page: the engine's UTF-8 is converted on the way out)
// (standard output is in text mode, so each line end reaches a file or pipe
// as CR LF, and a console shows it as a line end either way; the address
// updates' backspaces pass unchanged). The short usage's wait is the command
// interpreter's own PAUSE, and a key is one character from getchar().
//
// Ctrl-C, Ctrl-Break or the console closing ends a key wait at once: while
// the wait lasts, a control handler of its own cancels the blocked read, and
// then passes the event on to the program's handlers.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "engine/console.h"
#include "engine/utf8-win32.h"

namespace {

// The thread blocked in a key wait, or null.
std::atomic<HANDLE> g_keyWaiter{nullptr};

BOOL WINAPI EndKeyWait(DWORD) {
  if (const HANDLE waiter = g_keyWaiter.load()) CancelSynchronousIo(waiter);
  return FALSE;
}

class Win32Console : public StdioConsole {
 public:
  // The texts are UTF-8 inside; out they go in the ANSI code page.
  void write(std::string_view text) override { StdioConsole::write(AnsiFromUtf8(text)); }
  void writeError(std::string_view line) override { StdioConsole::writeError(AnsiFromUtf8(line)); }

  // One character; on a console it arrives with Enter. End of input ends the
  // wait as well.
  void waitForKey() override {
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    g_keyWaiter = self;
    SetConsoleCtrlHandler(EndKeyWait, TRUE);
    (void)std::getchar();
    SetConsoleCtrlHandler(EndKeyWait, FALSE);
    g_keyWaiter = nullptr;
    if (self) CloseHandle(self);
  }

  // The interpreter prints its own prompt, waits for a key and ends the line.
  void pause() override {
    std::fflush(stdout);
    (void)std::system("PAUSE");
  }
};

}  // namespace

Console& PlatformConsole() {
  static Win32Console console;
  return console;
}
