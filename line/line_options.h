// velmora-line's command line: its options, the programmer's words after
// "--", and its help text.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_LINE_LINE_OPTIONS_H_
#define VELMORA_LINE_LINE_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "line/replacement.h"

struct LineOptions {
  std::string ports;     // --ports LIST, as written
  bool allUsb = false;   // --all-usb
  std::string log;       // --log FILE; "" for none
  std::string traceDir;  // --trace DIR; "" for none
  bool repeat = false;   // --repeat: station mode
  int64_t quietMs = kDefaultQuietMs;
  std::vector<std::string> programmer;  // the words after "--"
};

// What the command line came to.
struct LineCommandLine {
  enum class Kind {
    kRun,   // `options` hold what to run
    kHelp,  // text: the help, for standard output
    kBad,   // text: why, whole lines for standard error
  };
  Kind kind = Kind::kRun;
  std::string text;
};

// Reads words 1 to argc - 1 into `options`. Exactly one of --ports and
// --all-usb must be given.
LineCommandLine ParseLineCommandLine(int argc, char** argv, LineOptions* options);

#endif  // VELMORA_LINE_LINE_OPTIONS_H_
