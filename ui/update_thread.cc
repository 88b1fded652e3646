#include "ui/update_thread.h"

#include <cstdlib>
#include <cstring>

#include "ui/run_channel.h"

namespace {

// `argument` quoted so that SplitTemplate gives it back: in double quotes,
// each double quote after its backslashes doubled and one more, and the
// backslashes before the closing quote doubled.
std::string QuoteArgument(const std::string& argument) {
  if (argument.find_first_of(" \"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}

}  // namespace

std::string CommandTemplate(const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (i > 1) text += ' ';
    text += QuoteArgument(arguments[i]);
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

std::vector<std::string> SplitTemplate(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      size_t n = 0;
      while (i + n < text.size() && text[i + n] == '\\') ++n;
      const bool beforeQuote = i + n < text.size() && text[i + n] == '"';
      word.append(beforeQuote ? n / 2 : n, '\\');
      i += n;
      if (beforeQuote && n % 2 == 1) {  // an escaped quote: part of the word
        word += '"';
        ++i;
      }
      continue;
    }
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        word += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    word += c;
    ++i;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

void BuildArguments(const std::string& text, ArgumentVector& words) {
  for (const std::string& word : SplitTemplate(text)) {
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
    // The run flag and the window are published (run_channel.h); the abort
    // flag is hooked into the run here.
    RunHooks hooks;
    hooks.abortFlag = &run->abortFlag;
    result = what.engine(words.argc, words.slot, hooks);
  }
  run->postOutcome(result);
  run->markWorkerEnded();
  return 0;
}
