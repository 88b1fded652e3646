// The console on Windows: stdio for the texts, as the C runtime writes them
// (standard output is in text mode, so each line end reaches a file or pipe
// as CR LF, and a console shows it as a line end either way; the address
// updates' backspaces pass unchanged). The short usage's wait is the command
// interpreter's own PAUSE, and a key is one character from getchar().
#include <cstdio>
#include <cstdlib>

#include "engine/console.h"

namespace {

class Win32Console : public Console {
 public:
  void write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void writeError(std::string_view line) override {
    std::fflush(stdout);
    std::fprintf(stderr, "fwp: %.*s\n", static_cast<int>(line.size()), line.data());
  }

  // One character; on a console it arrives with Enter. End of input ends the
  // wait as well.
  void waitForKey() override { (void)std::getchar(); }

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
