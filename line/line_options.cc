#include "line/line_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

constexpr const char* kDescription =
    "Programs the receivers on many ports at once, each in a process of its own.\n"
    "PROGRAMMER OPTIONS are fwp's without -uart, e.g. -baud 230400 -boot boot.bin\n"
    "-app app.bin; the images are read and checked once, before any port is opened.";

constexpr const char* kFooter =
    "Exit status: 0 every run completed, 1 some run did not, 2 nothing started.";

// CLI11's help with velmora-line's own usage line, which names the
// programmer's words after "--".
class LineFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: velmora-line (--ports LIST | --all-usb) [OPTIONS] -- PROGRAMMER OPTIONS\n";
  }
};

}  // namespace

LineCommandLine ParseLineCommandLine(int argc, char** argv, LineOptions* o) {
  // The programmer's words are everything after the first "--"; only the
  // words before it are velmora-line's.
  char** const end = argv + argc;
  char** const dashes =
      std::find_if(argv + 1, end, [](const char* w) { return w == std::string("--"); });
  if (dashes != end) o->programmer.assign(dashes + 1, end);

  CLI::App app(kDescription, "velmora-line");
  app.formatter(std::make_shared<LineFormatter>());
  app.footer(kFooter);
  app.set_help_flag("-h,--help", "this text");
  app.allow_extras();
  app.get_formatter()->column_width(19);
  const auto last = CLI::MultiOptionPolicy::TakeLast;
  app.add_option("--ports", o->ports,
                 "the ports: COM names, ranges and device paths, comma-separated\n"
                 "(COM33,COM34,COM40-COM47,/dev/ttyUSB9)")
      ->type_name("LIST")
      ->multi_option_policy(last);
  app.add_flag("--all-usb", o->allUsb, "every USB serial port that velmora-ports lists")
      ->disable_flag_override();
  app.add_option("--log", o->log, "append one JSON line per receiver run to FILE")
      ->type_name("FILE")
      ->multi_option_policy(last);
  app.add_option("--trace", o->traceDir,
                 "write each run's serial trace to DIR/PORT.trace\n"
                 "(station mode: DIR/PORT-N.trace for the Nth receiver)")
      ->type_name("DIR")
      ->multi_option_policy(last);
  app.add_flag("--repeat", o->repeat,
               "station mode: when a receiver is done, wait until it is\n"
               "replaced and program the next one, until Ctrl-C")
      ->disable_flag_override();
  std::vector<std::string> quiet;
  app.add_option("--quiet", quiet, "station mode: a line silent this long has no receiver (5)")
      ->type_name("SECONDS")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);

  const auto bad = [&](const std::string& word) {
    return LineCommandLine{
        LineCommandLine::Kind::kBad,
        "velmora-line: unknown or incomplete option \"" + word + "\"\n" + app.help()};
  };
  try {
    app.parse(static_cast<int>(dashes - argv), argv);
  } catch (const CLI::CallForHelp&) {
    return {LineCommandLine::Kind::kHelp, app.help()};
  } catch (const CLI::ParseError& e) {
    // A value missing, or one given to a flag: the option it names.
    std::string name = std::string(e.what()).substr(0, std::string(e.what()).find_first_of(": "));
    return bad(name.rfind("--", 0) == 0 ? name : "--" + name);
  }
  if (!app.remaining().empty()) return bad(app.remaining().front());
  for (const std::string& value : quiet) {
    char* endOfNumber = nullptr;
    const long seconds = std::strtol(value.c_str(), &endOfNumber, 10);
    if (*endOfNumber != '\0' || seconds < 1 || seconds > 3600)
      return {LineCommandLine::Kind::kBad, "velmora-line: --quiet takes 1 to 3600 seconds\n"};
    o->quietMs = seconds * 1000;
  }
  if (o->ports.empty() == !o->allUsb)
    return {LineCommandLine::Kind::kBad, "velmora-line: give either --ports LIST or --all-usb\n"};
  return {};
}
