// The console on POSIX: stdio for the texts, the terminal in non-canonical
// mode for a single key.
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "engine/console.h"
#include "serial/saved_terminals-posix.h"

namespace {

class PosixConsole : public StdioConsole {
 public:
  void waitForKey() override {
    termios saved;
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    // Put back by a signal that ends the process while the key is awaited.
    const int slot = terminal ? RememberTerminal(STDIN_FILENO, saved) : -1;
    if (terminal) {
      // One key, no Enter, no echo. Signals stay on, so Ctrl-C still
      // reaches the programmer and ends the wait (the read is interrupted);
      // the settings are put back on every way out of the wait.
      termios raw = saved;
      raw.c_lflag &= ~(ICANON | ECHO);
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    // Straight from the descriptor, so that stdio buffers nothing that a
    // later wait would then not see. End of input and errors end the wait.
    char key;
    (void)!::read(STDIN_FILENO, &key, 1);
    if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    ForgetTerminal(slot);
  }
};

}  // namespace

Console& PlatformConsole() {
  static PosixConsole console;
  return console;
}
