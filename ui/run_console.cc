#include "ui/run_console.h"

void ScreenText::add(std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\n':
        finished_ += line_;
        finished_ += '\n';
        line_.clear();
        cursor_ = 0;
        break;
      case '\r':
        cursor_ = 0;
        break;
      case '\b':
        if (cursor_ > 0) --cursor_;
        break;
      default:
        if (cursor_ < line_.size())
          line_[cursor_] = c;
        else
          line_ += c;
        ++cursor_;
        break;
    }
  }
}

void ScreenText::addLine(std::string_view line) {
  if (!line_.empty()) add("\n");
  add(line);
  add("\n");
}

void ScreenText::clear() {
  finished_.clear();
  line_.clear();
  cursor_ = 0;
}

std::string ScreenText::str() const {
  return finished_ + line_;
}

void RunConsole::setEcho(Console* echo) {
  echo_ = echo;
}

void RunConsole::clear() {
  std::lock_guard lock(mutex_);
  screen_.clear();
}

std::string RunConsole::text() const {
  std::lock_guard lock(mutex_);
  return screen_.str();
}

// The echo goes out of the lock: a terminal that takes its time holds up
// only the worker. echo_ changes only between runs.
void RunConsole::write(std::string_view text) {
  {
    std::lock_guard lock(mutex_);
    screen_.add(text);
  }
  if (echo_) echo_->write(text);
}

void RunConsole::writeError(std::string_view line) {
  {
    std::lock_guard lock(mutex_);
    screen_.addLine(line);
  }
  if (echo_) echo_->writeError(line);
}
