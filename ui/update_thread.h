// The update worker: turns the command template into the programmer's words
// with the chosen port filled in, runs the programmer and reports the
// outcome to the progress window.
//
// Threads: UpdateThreadProc runs on the worker thread that RunChannel starts;
// the other functions are plain and run anywhere.
#ifndef VELMORA_UI_UPDATE_THREAD_H_
#define VELMORA_UI_UPDATE_THREAD_H_

#include <string>
#include <vector>

#include "engine/progress.h"

class RunChannel;

// The template: the program's arguments after its own name, joined by single
// blanks. An argument that holds a blank or a double quote is quoted so that
// SplitTemplate gives it back whole (see there); the others stand as they
// are.
std::string CommandTemplate(const std::vector<std::string>& arguments);

// The template from a command line as the platform hands it over whole: the
// text after the program's name (quoted or not) and the white space after it,
// as the platform's start-up code leaves it.
std::string CommandTail(const char* commandLine);

// Every "<COMPORT>" in `text` (left to right, not overlapping) replaced by
// `portNumber` in decimal.
std::string ReplacePortToken(std::string text, int portNumber);

// The programmer's word vector: 100 slots; slot 0 (the program-name place)
// carries nothing, slots 1 to argc - 1 each own a heap buffer of the word's
// length plus 10 bytes. There is no terminating null slot.
constexpr int kArgumentSlots = 100;
struct ArgumentVector {
  int argc = 0;
  char* slot[kArgumentSlots] = {};

  ArgumentVector() = default;
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;
  ~ArgumentVector();  // frees the buffers of slots 1 to argc - 1
};

// The template's words, split as a Windows program's C runtime splits its
// command line, but only at blanks:
//   - blanks (0x20) outside double quotes separate words; runs of them, and
//     blanks at either end, give no words. Tabs are part of a word.
//   - a double quote starts or ends a quoted part, whose blanks stay in the
//     word; the quote itself is dropped. So "C:\Ana Lima\app.bin" is one
//     word without its quotes, and "" is an empty word.
//   - inside a quoted part, two double quotes give one.
//   - backslashes stand as they are, except before a double quote: 2n of
//     them give n and the quote starts or ends a quoted part; 2n + 1 give n
//     and a double quote that is part of the word.
// Text without double quotes splits exactly at its blanks.
std::vector<std::string> SplitTemplate(const std::string& text);

// Builds `words` from the template's words (SplitTemplate), the first word
// standing in the program-name place. Words past the 100th are dropped, so
// argc is at most 100.
void BuildArguments(const std::string& text, ArgumentVector& words);

// The outcome of a run from the programmer's result and the run flag as read
// after the run: stopped unless the flag is 1; complete for results 1 and 2.
Outcome ChooseOutcome(int result, int runFlag);

// The worker thread's body: builds the words from `run`'s template and port,
// runs its engine, frees the words and posts PROGRESS_FINISHED with the
// outcome (RunChannel::postOutcome: not while the run is held). Returns 0.
unsigned UpdateThreadProc(RunChannel* run);

#endif  // VELMORA_UI_UPDATE_THREAD_H_
