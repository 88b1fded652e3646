// Where the programmer's texts go, and where it waits for a key.
//
// The engine prints its banner, usage, messages and run report to standard
// output in exact wording, and waits for one key after the short usage and
// after the run report. Abstract so tests can capture the output and answer
// the key waits.
//
// Threads: used by the thread that runs the programmer; SetEngineConsole is
// called only while no run is in progress.
#ifndef VELMORA_ENGINE_CONSOLE_H_
#define VELMORA_ENGINE_CONSOLE_H_

#include <string_view>

class Console {
 public:
  virtual ~Console() = default;

  // Standard output. The text appears at once (a terminal shows the address
  // updates live).
  virtual void write(std::string_view text) = 0;

  // One line for standard error, without its line end: why something the
  // user asked for could not be done.
  virtual void writeError(std::string_view line) = 0;

  // Waits for one key. Takes a single key without Enter on a terminal, and
  // returns at once at the end of input.
  virtual void waitForKey() = 0;

  // The wait after the short usage. By default the text of the command
  // interpreter's PAUSE, one key, then the line end that the interpreter
  // echoes; a console whose interpreter has PAUSE runs that instead.
  virtual void pause();
};

// Standard output and error through stdio, on every platform: the texts as
// they are, flushed at once, and a reason as "fwp: <line>" on standard error.
// The platform consoles add their key waits.
class StdioConsole : public Console {
 public:
  void write(std::string_view text) override;
  void writeError(std::string_view line) override;
};

// Standard output and error, and the keyboard of the controlling terminal.
Console& PlatformConsole();

// The console in force: PlatformConsole() unless another was installed.
Console& EngineConsole();

// Installs `console` (which must outlive its use); null restores
// PlatformConsole().
void SetEngineConsole(Console* console);

// Formatted printing to the console in force.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The command interpreter's PAUSE, through the console in force.
void Pause();

#endif  // VELMORA_ENGINE_CONSOLE_H_
