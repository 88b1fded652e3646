#include "sim/sim_options.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "serial/port_names.h"
#include "sim/pty_line.h"

namespace {

constexpr const char* kUsage =
    "usage: velmora-sim [options]\n"
    "\n"
    "A simulated receiver on a pseudo-terminal. Prints the terminal's device\n"
    "path as the first line of standard output and its COM name (\"COM200\") as\n"
    "the second, then serves programmers that open the device until stopped.\n"
    "Status goes to standard error.\n"
    "\n"
    "Line and sessions:\n"
    "  --com N                  register as COM<N> in the port alias directory\n"
    "                           (default 200; 1 to 256); removed at exit, never\n"
    "                           followed once the simulator has ended; refused\n"
    "                           while another simulator holds it\n"
    "  --no-alias               register no alias (only the device path is printed)\n"
    "  --once                   serve one session: exit once a programmer has opened\n"
    "                           the device and closed it again\n"
    "  --no-timing              bytes move at once (default: 10 bit times a byte,\n"
    "                           both ways, and the terminal is read only as fast\n"
    "                           as the line carries bytes, with 4096 taken ahead)\n"
    "\n"
    "Receiver:\n"
    "  --firmware-baud RATE     the normal firmware's sentence rate (default 9600)\n"
    "  --loader RATE            start with the loader already running at RATE\n"
    "  --no-sentences           the normal firmware emits no sentences\n"
    "  --sentence-period MS     one sentence every MS milliseconds (default 200)\n"
    "  --request-size N         image bytes per block request (default 4096)\n"
    "  --seed N                 seed for the noise of mismatched rates (default 1)\n"
    "  After a session in which programming was ended (EX), the receiver restarts\n"
    "  into its normal firmware for the next one; the flash is kept.\n"
    "\n"
    "Faults (counts start at 1):\n"
    "  --boot-protected         silent after a header for address 0\n"
    "  --fail-address ADDR      answer PF for the image at ADDR (0x hex or decimal)\n"
    "  --silent-after-header N  send nothing from the Nth header on\n"
    "  --silent-after-request N send nothing after the Nth block request\n"
    "  --ok-instead-of-request N  send OK in place of the Nth block request\n"
    "  --free-text              FT, free text and noise before every reply\n"
    "  --drop-every N           lose every Nth byte from the programmer\n"
    "  --request-outside beyond|below\n"
    "                           one extra request just past the end of (or below)\n"
    "                           the first image with data\n"
    "  --garbled-request N      corrupt the addresses of the Nth block request\n"
    "  --line-gone N            the line goes away after the Nth block request:\n"
    "                           the terminal is closed and the program exits 0\n"
    "  --fault STAGE:ACTION[:N] ACTION at the Nth STAGE (default N 1); repeatable.\n"
    "                           STAGE: detect (the firmware's Nth sentence and all\n"
    "                           after it), switch (the baud switch sentence taken),\n"
    "                           sync (a sync string), header (an image header),\n"
    "                           request (inside a block request, once half its\n"
    "                           bytes have come), between (right after a PC).\n"
    "                           ACTION: silent (send and take nothing more), gone\n"
    "                           (the line goes away, as --line-gone), ok, rx, noise\n"
    "                           (16 noise bytes) or pf in place of the reply due\n"
    "                           (after a PC: sent as well). Pairs that mean nothing\n"
    "                           are refused: detect takes silent, gone and noise;\n"
    "                           switch silent and gone; sync silent, gone, ok and\n"
    "                           noise.\n"
    "\n"
    "Records (written at every exit):\n"
    "  --flash-out FILE         the 2 MiB flash (erased bytes are 0xFF)\n"
    "  --log FILE               a transcript of both directions, one line per run\n"
    "                           of bytes:\n"
    "                             TIME DIR BAUD FATE HEX |TEXT|\n"
    "                           TIME is seconds since start when the run's first\n"
    "                           byte reached the far end; DIR is P>R (programmer to\n"
    "                           receiver) or R>P; BAUD is the sender's rate; FATE is\n"
    "                           taken, ignored (arrived but not used: wrong rate,\n"
    "                           dropped, silent), lost (rates differ, nothing came)\n"
    "                           or noise (rates differ: HEX is what was sent, then\n"
    "                           \"=>\" and what arrived); HEX is up to 16 bytes;\n"
    "                           TEXT shows them as ASCII, '.' for others. Events\n"
    "                           (sessions, restarts, the line going away, the end)\n"
    "                           read TIME # WHAT; the first line is a '#' header.\n"
    "  --io-log FILE            every chunk read from or written to the terminal, as\n"
    "                           it happens, one line each:\n"
    "                             MICROS DIR COUNT HEX\n"
    "                           MICROS is CLOCK_MONOTONIC in microseconds, taken\n"
    "                           right after the read or write (real times, where\n"
    "                           --log has the ideal line's); DIR is P>R (read: the\n"
    "                           programmer's bytes) or R>P (written: the receiver's);\n"
    "                           COUNT is the chunk's size and HEX all its bytes. The\n"
    "                           first line is a '#' header.\n"
    "\n"
    "  --help                   this text\n";

// Parsing ends with one of these.
enum class Parsed { kRun, kHelp, kBad };

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

class ArgParser {
 public:
  ArgParser(int argc, char** argv) : args_(argv + 1, argv + argc) {}

  Parsed parse(SimOptions* o, std::string* error) {
    Faults& f = o->receiver.faults;
    while (next_ < args_.size()) {
      std::string arg = args_[next_++];
      inline_.reset();
      if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        inline_ = arg.substr(eq + 1);
        arg.resize(eq);
      }
      option_ = arg;
      bool ok = true;
      if (arg == "--help" || arg == "-h") {
        return Parsed::kHelp;
      } else if (arg == "--com") {
        ok = number(1, kMaxComNumber, "a number from 1 to 256", &o->com);
      } else if (arg == "--no-alias") {
        o->alias = false;
      } else if (arg == "--once") {
        o->once = true;
      } else if (arg == "--no-timing") {
        o->receiver.lineTiming = false;
      } else if (arg == "--firmware-baud") {
        ok = rate(&o->receiver.firmwareBaud);
      } else if (arg == "--loader") {
        o->receiver.startInLoader = true;
        ok = rate(&o->receiver.loaderBaud);
      } else if (arg == "--no-sentences") {
        o->receiver.emitSentences = false;
      } else if (arg == "--sentence-period") {
        ok = number(1, 60000, "milliseconds from 1 to 60000", &o->receiver.sentencePeriodMs);
      } else if (arg == "--request-size") {
        int n = 0;
        ok = number(1, ReceiverModel::kFlashSize, "a byte count from 1 to 2097152", &n);
        o->receiver.requestSize = static_cast<uint32_t>(n);
      } else if (arg == "--seed") {
        uint64_t v = 0;
        ok = value(UINT32_MAX, "a number from 0 to 4294967295", &v);
        o->receiver.seed = static_cast<uint32_t>(v);
      } else if (arg == "--boot-protected") {
        f.bootWriteProtected = true;
      } else if (arg == "--fail-address") {
        uint64_t v = 0;
        ok = value(UINT32_MAX, "an address (0x hex or decimal)", &v);
        f.failSlotAddress = static_cast<uint32_t>(v);
      } else if (arg == "--silent-after-header") {
        ok = count(&f.silentAfterHeader);
      } else if (arg == "--silent-after-request") {
        ok = count(&f.silentAfterRequest);
      } else if (arg == "--ok-instead-of-request") {
        ok = count(&f.okInsteadOfRequest);
      } else if (arg == "--free-text") {
        f.freeTextBetweenReplies = true;
      } else if (arg == "--drop-every") {
        ok = count(&f.dropEveryNthByte);
      } else if (arg == "--request-outside") {
        std::string where;
        ok = text("beyond or below", &where);
        if (ok && where == "beyond") {
          f.requestOutsideImage = Faults::Outside::kBeyondEnd;
        } else if (ok && where == "below") {
          f.requestOutsideImage = Faults::Outside::kBelowStart;
        } else {
          ok = fail("beyond or below");
        }
      } else if (arg == "--garbled-request") {
        ok = count(&f.garbledRequest);
      } else if (arg == "--line-gone") {
        ok = count(&f.lineGone);
      } else if (arg == "--fault") {
        std::string words, why;
        StageFault fault;
        ok = text("STAGE:ACTION[:N]", &words);
        if (ok && !ParseStageFault(words, &fault, &why)) ok = fail("STAGE:ACTION[:N]: " + why);
        if (ok) f.stages.push_back(fault);
      } else if (arg == "--flash-out") {
        ok = text("a file name", &o->flashOut);
      } else if (arg == "--log") {
        ok = text("a file name", &o->log);
      } else if (arg == "--io-log") {
        ok = text("a file name", &o->ioLog);
      } else {
        error_ = "unknown option " + args_[next_ - 1];
        ok = false;
      }
      if (ok && inline_ && !consumed_) ok = fail("no value");
      consumed_ = false;
      if (!ok) {
        *error = error_;
        return Parsed::kBad;
      }
    }
    return Parsed::kRun;
  }

 private:
  bool fail(const std::string& needs) {
    error_ = option_ + (needs == "no value" ? " takes no value" : " needs " + needs);
    return false;
  }

  bool text(const std::string& needs, std::string* out) {
    if (inline_) {
      consumed_ = true;
      *out = *inline_;
    } else if (next_ < args_.size()) {
      *out = args_[next_++];
    } else {
      return fail(needs);
    }
    if (out->empty()) return fail(needs);
    return true;
  }

  bool value(uint64_t max, const std::string& needs, uint64_t* out) {
    std::string t;
    if (!text(needs, &t)) return false;
    if (!ParseUnsigned(t, max, out)) return fail(needs);
    return true;
  }

  bool number(int min, uint32_t max, const std::string& needs, int* out) {
    uint64_t v = 0;
    if (!value(max, needs, &v)) return false;
    if (v < static_cast<uint64_t>(min)) return fail(needs);
    *out = static_cast<int>(v);
    return true;
  }

  bool count(int* out) { return number(1, 1'000'000'000, "a count from 1 up", out); }

  bool rate(uint32_t* out) {
    const std::string needs =
        "a line rate: 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, "
        "460800 or 921600";
    uint64_t v = 0;
    if (!value(UINT32_MAX, needs, &v)) return false;
    if (!PtyLine::IsLineRate(static_cast<uint32_t>(v))) return fail(needs);
    *out = static_cast<uint32_t>(v);
    return true;
  }

  std::vector<std::string> args_;
  size_t next_ = 0;
  std::string option_;
  std::optional<std::string> inline_;  // the value of --option=value
  bool consumed_ = false;
  std::string error_;
};

}  // namespace

SimCommandLine ParseSimCommandLine(int argc, char** argv, SimOptions* options) {
  SimCommandLine line;
  switch (ArgParser(argc, argv).parse(options, &line.text)) {
    case Parsed::kHelp:
      line.kind = SimCommandLine::Kind::kHelp;
      line.text = kUsage;
      break;
    case Parsed::kBad:
      line.kind = SimCommandLine::Kind::kBad;
      break;
    case Parsed::kRun:
      break;
  }
  return line;
}
