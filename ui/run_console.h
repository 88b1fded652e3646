// RunConsole: the programmer's console in the dialog tool. It records what
// one run prints, as a terminal shows it, for the box that reports a failed
// update; with an echo console (the platform's, when the program has a
// terminal on standard output) it also passes every text on unchanged, so
// the terminal shows the run as fwp prints it. Its key waits return at once:
// the dialog tool reads no keys, and the worker never waits for one.
//
// Threads: write, writeError and waitForKey on the worker thread, which runs
// the programmer; clear, setEcho and text on the window thread. clear and
// setEcho only while no run is in progress; text at any time (it sees what
// the run has printed so far).
#ifndef VELMORA_UI_RUN_CONSOLE_H_
#define VELMORA_UI_RUN_CONSOLE_H_

#include <mutex>
#include <string>
#include <string_view>

#include "engine/console.h"

// The text a terminal shows after some output, without its colours and
// scrolling: a line feed ends the line; a backspace moves the cursor one
// place left and a carriage return to the start of the line, and the
// characters after them overwrite what is there. So the programmer's address
// line, rewritten in place block by block, ends as one line with the last
// address.
class ScreenText {
 public:
  void add(std::string_view text);
  // `line` on a line of its own: after a line feed when the current line has
  // text.
  void addLine(std::string_view line);
  void clear();
  std::string str() const;

 private:
  std::string finished_;  // the lines ended by a line feed
  std::string line_;      // the current line
  size_t cursor_ = 0;     // in line_
};

class RunConsole : public Console {
 public:
  // Texts go on to `echo` as well, when it is not null.
  void setEcho(Console* echo);
  // Forgets the last run's text.
  void clear();
  // What the run has printed, as a terminal shows it; the lines given to
  // writeError among them, each on a line of its own.
  std::string text() const;

  void write(std::string_view text) override;
  void writeError(std::string_view line) override;
  void waitForKey() override {}

 private:
  mutable std::mutex mutex_;
  ScreenText screen_;  // under mutex_
  Console* echo_ = nullptr;
};

#endif  // VELMORA_UI_RUN_CONSOLE_H_
