#include "line/line_options.h"

#include <cstdlib>

namespace {

constexpr const char* kUsage =
    "usage: velmora-line (--ports LIST | --all-usb) [options] -- PROGRAMMER OPTIONS\n"
    "\n"
    "Programs the receivers on many ports at once, each in a process of its own.\n"
    "PROGRAMMER OPTIONS are fwp's without -uart, e.g. -baud 230400 -boot boot.bin\n"
    "-app app.bin; the images are read and checked once, before any port is opened.\n"
    "\n"
    "  --ports LIST     the ports: COM names, ranges and device paths, comma-separated\n"
    "                   (COM33,COM34,COM40-COM47,/dev/ttyUSB9)\n"
    "  --all-usb        every USB serial port that velmora-ports lists\n"
    "  --log FILE       append one JSON line per receiver run to FILE\n"
    "  --trace DIR      write each run's serial trace to DIR/PORT.trace\n"
    "                   (station mode: DIR/PORT-N.trace for the Nth receiver)\n"
    "  --repeat         station mode: when a receiver is done, wait until it is\n"
    "                   replaced and program the next one, until Ctrl-C\n"
    "  --quiet SECONDS  station mode: a line silent this long has no receiver (5)\n"
    "  --help           this text\n"
    "\n"
    "Exit status: 0 every run completed, 1 some run did not, 2 nothing started.\n";

LineCommandLine Bad(const std::string& text) {
  return {LineCommandLine::Kind::kBad, text};
}

}  // namespace

LineCommandLine ParseLineCommandLine(int argc, char** argv, LineOptions* o) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string word = argv[i];
    const bool hasValue = i + 1 < argc;
    if (word == "--") {
      ++i;
      break;
    } else if (word == "--help" || word == "-h") {
      return {LineCommandLine::Kind::kHelp, kUsage};
    } else if (word == "--all-usb") {
      o->allUsb = true;
    } else if (word == "--repeat") {
      o->repeat = true;
    } else if (hasValue && (word == "--ports" || word == "--log" || word == "--trace")) {
      (word == "--ports" ? o->ports : word == "--log" ? o->log : o->traceDir) = argv[++i];
    } else if (hasValue && word == "--quiet") {
      char* end = nullptr;
      const long seconds = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || seconds < 1 || seconds > 3600)
        return Bad("velmora-line: --quiet takes 1 to 3600 seconds\n");
      o->quietMs = seconds * 1000;
    } else {
      return Bad("velmora-line: unknown or incomplete option \"" + word + "\"\n" + kUsage);
    }
  }
  o->programmer.assign(argv + i, argv + argc);
  if (o->ports.empty() == !o->allUsb)
    return Bad("velmora-line: give either --ports LIST or --all-usb\n");
  return {};
}
