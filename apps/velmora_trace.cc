// velmora-trace: reads a serial trace written by VELMORA_TRACE (see
// serial/trace.h) and prints it as the programming protocol's frames, one per
// line (see engine/trace_frames.h).
//
// Exit status: 0 the whole trace was read, 1 it could not be read or a line
// is no trace record (what came before it is printed), 2 bad command line.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "engine/trace_frames.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs("usage: velmora-trace FILE\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "velmora-trace: cannot read %s\n", argv[1]);
    return 1;
  }
  TraceFrames frames([](const std::string& line) { std::cout << line << '\n'; });
  long number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!frames.addLine(line)) {
      frames.finish();
      std::cout.flush();
      std::fprintf(stderr, "velmora-trace: %s:%ld: not a trace record\n", argv[1], number);
      return 1;
    }
  }
  frames.finish();
  std::cout.flush();
  return in.bad() || !std::cout ? 1 : 0;
}
