#include "engine/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
Console* g_console = nullptr;
}  // namespace

void StdioConsole::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void StdioConsole::writeError(std::string_view line) {
  std::fflush(stdout);
  std::fprintf(stderr, "fwp: %.*s\n", static_cast<int>(line.size()), line.data());
}

Console& EngineConsole() {
  return g_console ? *g_console : PlatformConsole();
}

void SetEngineConsole(Console* console) {
  g_console = console;
}

void Print(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(length) < sizeof small) {
    EngineConsole().write(std::string_view(small, length));
  } else {
    // Paths and port names from the command line can be long.
    std::string large(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    large.resize(length);
    EngineConsole().write(large);
  }
  va_end(again);
}

void Console::pause() {
  write("Press any key to continue . . . ");
  waitForKey();
  write("\n");
}

void Pause() {
  EngineConsole().pause();
}
