// velmora-trace: reads a serial trace written by VELMORA_TRACE (see
// serial/trace.h) and prints it as the programming protocol's frames, one per
// line (see engine/trace_frames.h).
//
// Exit status: 0 the whole trace was read, 1 it could not be read (a
// directory, a record longer than engine/trace_file.h allows) or a line is no
// trace record (what came before it is printed), 2 bad command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>

#include "engine/trace_file.h"
#include "serial/standard_descriptors.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  CLI::App app(
      "Reads a serial trace written by VELMORA_TRACE and prints it as the\n"
      "programming protocol's frames, one per line.",
      "velmora-trace");
  app.set_help_flag("-h,--help", "this text");
  app.allow_extras();
  app.get_formatter()->column_width(14);
  app.get_formatter()->label("REQUIRED", "");
  std::string path;
  app.add_option("FILE", path, "the trace")->required()->type_name("");
  std::string why;
  try {
    app.parse(argc, argv);
    for (const std::string& word : app.remaining())
      if (why.empty())
        why = (word[0] == '-' ? "unknown option " : "one FILE only, not also ") + word;
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& e) {
    why = e.what();
  }
  if (!why.empty()) {
    std::fprintf(stderr, "velmora-trace: %s\n%s", why.c_str(),
                 CLI::Formatter().make_usage(&app, "velmora-trace").c_str());
    return 2;
  }
  const bool read = PrintTraceFrames(path, std::cout, &why);
  if (!read) std::fprintf(stderr, "velmora-trace: %s\n", why.c_str());
  return read && std::cout ? 0 : 1;
}
