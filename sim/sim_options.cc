#include "sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "serial/port_names.h"
#include "sim/pty_line.h"

namespace {

constexpr const char* kDescription =
    "A simulated receiver on a pseudo-terminal. Prints the terminal's device\n"
    "path as the first line of standard output and its COM name (\"COM200\") as\n"
    "the second, then serves programmers that open the device until stopped.\n"
    "Status goes to standard error.";

constexpr const char* kLine = "Line and sessions";
constexpr const char* kReceiver = "Receiver";
constexpr const char* kFaults = "Faults (counts start at 1)";
constexpr const char* kRecords = "Records (written at every exit)";

constexpr const char* kFooter =
    "When programming ends (EX), the receiver restarts into its normal firmware\n"
    "500 ms later, whether or not the programmer still holds the port, and at\n"
    "once when the next programmer opens it; the flash is kept. A frame that\n"
    "stops in the middle for 1 s is given up.\n"
    "\n"
    "--log writes a transcript of both directions, one line per run of bytes:\n"
    "  TIME DIR BAUD FATE HEX |TEXT|\n"
    "TIME is seconds since start when the run's first byte reached the far end;\n"
    "DIR is P>R (programmer to receiver) or R>P; BAUD is the sender's rate; FATE\n"
    "is taken, ignored (arrived but not used: wrong rate, dropped, silent), lost\n"
    "(rates differ, nothing came) or noise (rates differ: HEX is what was sent,\n"
    "then \"=>\" and what arrived); HEX is up to 16 bytes; TEXT shows them as\n"
    "ASCII, '.' for others. Events (sessions, restarts, the line going away, the\n"
    "end) read TIME # WHAT; the first line is a '#' header.\n"
    "\n"
    "--io-log writes every chunk read from or written to the terminal, as it\n"
    "happens, one line each:\n"
    "  MICROS DIR COUNT HEX\n"
    "MICROS is CLOCK_MONOTONIC in microseconds, taken right after the read or\n"
    "write (real times, where --log has the ideal line's); DIR is P>R (read: the\n"
    "programmer's bytes) or R>P (written: the receiver's); COUNT is the chunk's\n"
    "size and HEX all its bytes. The first line is a '#' header.";

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 16) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (v > max) return false;
  }
  *value = v;
  return true;
}

// Reads an option's value into the options; false when it is not what the
// option needs (the error then says "OPTION needs NEEDS", or with `why`
// after the needs when the reader gives one).
using Reader = std::function<bool(const std::string& value, SimOptions* o, std::string* why)>;

struct ValueOption {
  const char* name;
  const char* typeName;
  const char* group;
  const char* description;
  const char* needs;
  Reader read;
};

struct FlagOption {
  const char* name;
  const char* group;
  const char* description;
  std::function<void(SimOptions*)> set;
};

Reader Number(int min, uint32_t max, int* (*field)(SimOptions*)) {
  return [=](const std::string& value, SimOptions* o, std::string*) {
    uint64_t v = 0;
    if (!ParseUnsigned(value, max, &v) || v < static_cast<uint64_t>(min)) return false;
    *field(o) = static_cast<int>(v);
    return true;
  };
}

Reader Count(int* (*field)(SimOptions*)) {
  return Number(1, 1'000'000'000, field);
}

Reader Rate(uint32_t* (*field)(SimOptions*), bool startInLoader) {
  return [=](const std::string& value, SimOptions* o, std::string*) {
    uint64_t v = 0;
    if (!ParseUnsigned(value, UINT32_MAX, &v) || !PtyLine::IsLineRate(static_cast<uint32_t>(v)))
      return false;
    *field(o) = static_cast<uint32_t>(v);
    if (startInLoader) o->receiver.startInLoader = true;
    return true;
  };
}

Reader Text(std::string* (*field)(SimOptions*)) {
  return [=](const std::string& value, SimOptions* o, std::string*) {
    *field(o) = value;
    return true;
  };
}

constexpr const char* kRates =
    "a line rate: 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, "
    "460800 or 921600";

const std::vector<ValueOption>& ValueOptions() {
  static const std::vector<ValueOption> options = {
      {"--com", "N", kLine,
       "register as COM<N> in the port alias directory\n"
       "(default 200; 1 to 256); removed at exit, never\n"
       "followed once the simulator has ended; refused\n"
       "while another simulator holds it",
       "a number from 1 to 256", Number(1, kMaxComNumber, [](SimOptions* o) { return &o->com; })},
      {"--adapter-latency", "MS", kLine,
       "the receiver's bytes reach the programmer as through\n"
       "a USB adapter's latency timer: in packets of 62 as\n"
       "soon as 62 are pending, the rest MS (1 to 255)\n"
       "after the first of them arrived (default: at once)",
       "milliseconds from 1 to 255",
       Number(1, 255, [](SimOptions* o) { return &o->adapterLatencyMs; })},
      {"--firmware-baud", "RATE", kReceiver, "the normal firmware's sentence rate (default 9600)",
       kRates, Rate([](SimOptions* o) { return &o->receiver.firmwareBaud; }, false)},
      {"--loader", "RATE", kReceiver, "start with the loader already running at RATE", kRates,
       Rate([](SimOptions* o) { return &o->receiver.loaderBaud; }, true)},
      {"--sentence-period", "MS", kReceiver, "one sentence every MS milliseconds (default 200)",
       "milliseconds from 1 to 60000",
       Number(1, 60000, [](SimOptions* o) { return &o->receiver.sentencePeriodMs; })},
      {"--request-size", "N", kReceiver, "image bytes per block request (default 4096)",
       "a byte count from 1 to 2097152",
       [](const std::string& value, SimOptions* o, std::string*) {
         uint64_t v = 0;
         if (!ParseUnsigned(value, ReceiverModel::kFlashSize, &v) || v < 1) return false;
         o->receiver.requestSize = static_cast<uint32_t>(v);
         return true;
       }},
      {"--seed", "N", kReceiver, "seed for the noise of mismatched rates (default 1)",
       "a number from 0 to 4294967295",
       [](const std::string& value, SimOptions* o, std::string*) {
         uint64_t v = 0;
         if (!ParseUnsigned(value, UINT32_MAX, &v)) return false;
         o->receiver.seed = static_cast<uint32_t>(v);
         return true;
       }},
      {"--fail-address", "ADDR", kFaults, "answer PF for the image at ADDR (0x hex or decimal)",
       "an address (0x hex or decimal)",
       [](const std::string& value, SimOptions* o, std::string*) {
         uint64_t v = 0;
         if (!ParseUnsigned(value, UINT32_MAX, &v)) return false;
         o->receiver.faults.failSlotAddress = static_cast<uint32_t>(v);
         return true;
       }},
      {"--silent-after-header", "N", kFaults, "send nothing from the Nth header on",
       "a count from 1 up",
       Count([](SimOptions* o) { return &o->receiver.faults.silentAfterHeader; })},
      {"--silent-after-request", "N", kFaults, "send nothing after the Nth block request",
       "a count from 1 up",
       Count([](SimOptions* o) { return &o->receiver.faults.silentAfterRequest; })},
      {"--ok-instead-of-request", "N", kFaults, "send OK in place of the Nth block request",
       "a count from 1 up",
       Count([](SimOptions* o) { return &o->receiver.faults.okInsteadOfRequest; })},
      {"--drop-every", "N", kFaults, "lose every Nth byte from the programmer", "a count from 1 up",
       Count([](SimOptions* o) { return &o->receiver.faults.dropEveryNthByte; })},
      {"--request-outside", "beyond|below", kFaults,
       "one extra request just past the end of (or below)\n"
       "the first image with data",
       "beyond or below",
       [](const std::string& value, SimOptions* o, std::string*) {
         if (value == "beyond") {
           o->receiver.faults.requestOutsideImage = Faults::Outside::kBeyondEnd;
         } else if (value == "below") {
           o->receiver.faults.requestOutsideImage = Faults::Outside::kBelowStart;
         } else {
           return false;
         }
         return true;
       }},
      {"--garbled-request", "N", kFaults, "corrupt the addresses of the Nth block request",
       "a count from 1 up",
       Count([](SimOptions* o) { return &o->receiver.faults.garbledRequest; })},
      {"--line-gone", "N", kFaults,
       "the line goes away after the Nth block request:\n"
       "the terminal is closed and the program exits 0",
       "a count from 1 up", Count([](SimOptions* o) { return &o->receiver.faults.lineGone; })},
      {"--fault", "STAGE:ACTION[:N]", kFaults,
       "ACTION at the Nth STAGE (default N 1); repeatable.\n"
       "STAGE: detect (the firmware's Nth sentence and all\n"
       "after it), switch (the baud switch sentence taken),\n"
       "sync (a sync string), header (an image header),\n"
       "request (inside a block request, once half its\n"
       "bytes have come), between (right after a PC).\n"
       "ACTION: silent (send and take nothing more), gone\n"
       "(the line goes away, as --line-gone), ok, rx, noise\n"
       "(16 noise bytes) or pf in place of the reply due\n"
       "(after a PC: sent as well). Pairs that mean nothing\n"
       "are refused: detect takes silent, gone and noise;\n"
       "switch silent and gone; sync silent, gone, ok and\n"
       "noise.",
       "STAGE:ACTION[:N]",
       [](const std::string& value, SimOptions* o, std::string* why) {
         StageFault fault;
         if (!ParseStageFault(value, &fault, why)) return false;
         o->receiver.faults.stages.push_back(fault);
         return true;
       }},
      {"--flash-out", "FILE", kRecords, "the 2 MiB flash (erased bytes are 0xFF)", "a file name",
       Text([](SimOptions* o) { return &o->flashOut; })},
      {"--log", "FILE", kRecords, "a transcript of both directions (below)", "a file name",
       Text([](SimOptions* o) { return &o->log; })},
      {"--io-log", "FILE", kRecords, "every chunk read from or written to the terminal (below)",
       "a file name", Text([](SimOptions* o) { return &o->ioLog; })},
  };
  return options;
}

const std::vector<FlagOption>& FlagOptions() {
  static const std::vector<FlagOption> flags = {
      {"--no-alias", kLine, "register no alias (only the device path is printed)",
       [](SimOptions* o) { o->alias = false; }},
      {"--once", kLine,
       "serve one session: exit once a programmer has opened\n"
       "the device and closed it again",
       [](SimOptions* o) { o->once = true; }},
      {"--no-timing", kLine,
       "bytes move at once (default: 10 bit times a byte,\n"
       "both ways, and the terminal is read only as fast\n"
       "as the line carries bytes, with 4096 taken ahead)",
       [](SimOptions* o) { o->receiver.lineTiming = false; }},
      {"--no-sentences", kReceiver, "the normal firmware emits no sentences",
       [](SimOptions* o) { o->receiver.emitSentences = false; }},
      {"--boot-protected", kFaults, "silent after a header for address 0",
       [](SimOptions* o) { o->receiver.faults.bootWriteProtected = true; }},
      {"--free-text", kFaults, "FT, free text and noise before every reply",
       [](SimOptions* o) { o->receiver.faults.freeTextBetweenReplies = true; }},
  };
  return flags;
}

// The option a CLI11 error names first ("--log: 1 required TEXT missing",
// "once was given a disallowed flag override"), with its dashes.
std::string NamedOption(const std::string& message) {
  std::string name = message.substr(0, message.find_first_of(": "));
  if (name.rfind("--", 0) != 0) name = "--" + name;
  return name;
}

}  // namespace

SimCommandLine ParseSimCommandLine(int argc, char** argv, SimOptions* options) {
  CLI::App app(kDescription, "velmora-sim");
  app.set_help_flag("-h,--help", "this text");
  app.allow_extras();
  app.footer(kFooter);
  app.get_formatter()->column_width(26);
  std::vector<std::pair<const ValueOption*, CLI::Option*>> given;
  std::vector<std::vector<std::string>> values(ValueOptions().size());
  for (size_t i = 0; i < ValueOptions().size(); ++i) {
    const ValueOption& v = ValueOptions()[i];
    // Every occurrence is read, in order: the last one wins, and a bad one
    // anywhere is refused.
    CLI::Option* option = app.add_option(v.name, values[i], v.description)
                              ->type_name(v.typeName)
                              ->group(v.group)
                              ->expected(1)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                              ->allow_extra_args(false);
    given.push_back({&v, option});
  }
  std::vector<std::pair<const FlagOption*, CLI::Option*>> flags;
  for (const FlagOption& f : FlagOptions())
    flags.push_back(
        {&f, app.add_flag(f.name, f.description)->group(f.group)->disable_flag_override()});

  SimCommandLine line;
  line.kind = SimCommandLine::Kind::kBad;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return {SimCommandLine::Kind::kHelp, app.help()};
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string name = NamedOption(e.what());
    for (const FlagOption& f : FlagOptions())
      if (name == f.name) return {SimCommandLine::Kind::kBad, name + " takes no value"};
    for (const ValueOption& v : ValueOptions())
      if (name == v.name) return {SimCommandLine::Kind::kBad, name + " needs " + v.needs};
    return {SimCommandLine::Kind::kBad, e.what()};
  } catch (const CLI::ParseError& e) {
    return {SimCommandLine::Kind::kBad, e.what()};
  }
  if (!app.remaining().empty()) {
    line.text = "unknown option " + app.remaining().front();
    return line;
  }
  for (const auto& [flag, option] : flags)
    if (option->count() > 0) flag->set(options);
  for (size_t i = 0; i < given.size(); ++i) {
    const ValueOption& v = *given[i].first;
    for (const std::string& value : values[i]) {
      std::string why;
      if (value.empty() || !v.read(value, options, &why)) {
        line.text = std::string(v.name) + " needs " + v.needs + (why.empty() ? "" : ": " + why);
        return line;
      }
    }
  }
  return {};
}
