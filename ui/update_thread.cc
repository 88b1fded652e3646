#include "ui/update_thread.h"

#include <cstdlib>
#include <cstring>

#include "ui/run_channel.h"
#include "ui/split_token.h"

std::string CommandTemplate(const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (i > 1) text += ' ';
    text += arguments[i];
  }
  return text;
}

std::string CommandTail(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    // A quoted name runs to the next quotation mark (or the end).
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  // The white space after it: blanks, tabs and the other control characters,
  // as the platform's start-up code skips them.
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}

std::string ReplacePortToken(std::string text, int portNumber) {
  static constexpr std::string_view kToken = "<COMPORT>";
  const std::string number = std::to_string(portNumber);
  for (size_t at = text.find(kToken); at != std::string::npos;
       at = text.find(kToken, at + number.size())) {
    text.replace(at, kToken.size(), number);
  }
  return text;
}

ArgumentVector::~ArgumentVector() {
  for (int i = 1; i < argc; ++i) std::free(slot[i]);
}

void BuildArguments(std::string text, ArgumentVector& words) {
  while (!text.empty()) {
    const std::string word = SplitToken(text, ' ', true);
    if (word.empty()) continue;
    if (words.argc == kArgumentSlots) break;
    if (words.argc > 0) {
      char* buffer = static_cast<char*>(std::malloc(word.size() + 10));
      std::memcpy(buffer, word.c_str(), word.size() + 1);
      words.slot[words.argc] = buffer;
    }
    ++words.argc;
  }
}

Outcome ChooseOutcome(int result, int runFlag) {
  if (runFlag != 1) return OUTCOME_STOPPED;
  return result == 1 || result == 2 ? OUTCOME_COMPLETE : OUTCOME_NOT_COMPLETE;
}

unsigned UpdateThreadProc(RunChannel* run) {
  const RunChannel::Run& what = run->current();
  int result;
  {
    ArgumentVector words;
    BuildArguments(ReplacePortToken(what.commandTemplate, what.portNumber), words);
    result = what.engine(words.argc, words.slot);
  }
  run->postOutcome(result);
  run->markWorkerEnded();
  return 0;
}
