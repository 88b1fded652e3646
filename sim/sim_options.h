// velmora-sim's command line: its options, read into what the simulator
// runs with, and its help text.
//
// Options are "--name VALUE" or "--name=VALUE", read by CLI11, which also
// writes the help from their definitions; an option given more than once
// takes its last value. A flag given a value, an unknown option, a missing
// value or one out of range makes the command line bad, with a one-line
// reason that names the option.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_SIM_SIM_OPTIONS_H_
#define VELMORA_SIM_SIM_OPTIONS_H_

#include <string>

#include "sim/receiver_model.h"

// How long the receiver takes to restart into its firmware once its loader
// has ended, and how long its loader waits for the rest of a frame.
inline constexpr int kRestartAfterExMs = 500;
inline constexpr int kFrameTimeoutMs = 1000;

struct SimOptions {
  int com = 200;      // the alias COM<com>...
  bool alias = true;  // ...registered unless --no-alias
  bool once = false;
  int adapterLatencyMs = 0;          // 0: no adapter between the line and the programmer
  std::string flashOut, log, ioLog;  // records; "" for none
  // Line timing on; the transcript goes to the log as it is made, not into
  // the model's memory; the receiver restarts and gives up frames as a real
  // one does.
  ReceiverConfig receiver = [] {
    ReceiverConfig c;
    c.lineTiming = true;
    c.keepTranscript = false;
    c.restartAfterExMs = kRestartAfterExMs;
    c.frameTimeoutMs = kFrameTimeoutMs;
    return c;
  }();
};

// What the command line came to.
struct SimCommandLine {
  enum class Kind {
    kRun,   // `options` hold what to run
    kHelp,  // text: the help, for standard output
    kBad,   // text: the reason, one line without its end ("--com needs a number from 1 to 256")
  };
  Kind kind = Kind::kRun;
  std::string text;
};

// Reads words 1 to argc - 1 into `options`, which keep their defaults for
// what the words do not name.
SimCommandLine ParseSimCommandLine(int argc, char** argv, SimOptions* options);

#endif  // VELMORA_SIM_SIM_OPTIONS_H_
