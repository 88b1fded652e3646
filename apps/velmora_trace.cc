// velmora-trace: reads a serial trace written by VELMORA_TRACE (see
// serial/trace.h) and prints it as the programming protocol's frames, one per
// line (see engine/trace_frames.h).
//
// Exit status: 0 the whole trace was read, 1 it could not be read (a
// directory, a record longer than engine/trace_file.h allows) or a line is no
// trace record (what came before it is printed), 2 bad command line.
#include <cstdio>
#include <iostream>
#include <string>

#include "engine/trace_file.h"
#include "serial/standard_descriptors.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs("usage: velmora-trace FILE\n", stderr);
    return 2;
  }
  std::string why;
  const bool read = PrintTraceFrames(argv[1], std::cout, &why);
  if (!read) std::fprintf(stderr, "velmora-trace: %s\n", why.c_str());
  return read && std::cout ? 0 : 1;
}
