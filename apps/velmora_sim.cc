// velmora-sim: a simulated receiver on a pseudo-terminal.
//
// Makes the terminal, registers it as a COM alias, prints the device path and
// the COM name on standard output and serves programmers that open the
// device, one session (open to close) after another, until stopped; with
// --once it ends after the first session. Every way out (--once, SIGTERM,
// SIGINT, SIGHUP, the line going away, an error after start-up) writes the
// records asked for and removes the alias; after a way out that cannot be
// caught (SIGKILL) the alias is left behind but no longer followed. A COM
// number that another running simulator holds is refused. Exit status:
// 0 ended as asked, 1 could not run (terminal, alias or record files), 2 bad
// command line.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_names.h"
#include "serial/standard_descriptors.h"
#include "sim/adapter_latency.h"
#include "sim/pty_line.h"
#include "sim/receiver_model.h"

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
    "  --adapter-latency MS     the receiver's bytes reach the programmer as through\n"
    "                           a USB adapter's latency timer: in packets of 62 as\n"
    "                           soon as 62 are pending, the rest MS (1 to 255)\n"
    "                           after the first of them arrived (default: at once)\n"
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
    "  When programming ends (EX), the receiver restarts into its normal firmware\n"
    "  500 ms later, whether or not the programmer still holds the port, and at\n"
    "  once when the next programmer opens it; the flash is kept. A frame that\n"
    "  stops in the middle for 1 s is given up.\n"
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

// How long the receiver takes to restart into its firmware once its loader
// has ended, and how long its loader waits for the rest of a frame.
constexpr int kRestartAfterExMs = 500;
constexpr int kFrameTimeoutMs = 1000;

struct Options {
  int com = 200;
  int adapterLatencyMs = 0;  // 0: no adapter between the line and the programmer
  bool alias = true;
  bool once = false;
  std::string flashOut;
  std::string log;
  std::string ioLog;
  ReceiverConfig receiver;
};

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

  Parsed parse(Options* o, std::string* error) {
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
      } else if (arg == "--adapter-latency") {
        ok = number(1, 255, "milliseconds from 1 to 255", &o->adapterLatencyMs);
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

// The transcript file: runs of bytes with the same direction, rate and fate
// that follow each other closely share a line.
class TranscriptLog {
 public:
  using Entry = ReceiverModel::TranscriptEntry;

  explicit TranscriptLog(FILE* file) : file_(file) {
    std::fprintf(file_,
                 "# velmora-sim transcript: TIME DIR BAUD FATE HEX |TEXT| (see velmora-sim "
                 "--help)\n");
  }

  void add(const Entry& e) {
    const bool joins = !run_.empty() && e.direction == run_[0].direction &&
                       e.baud == run_[0].baud && e.fate == run_[0].fate &&
                       e.timeUs - run_.back().timeUs <= joinGapUs(e.baud) && run_.size() < kPerLine;
    if (!joins) flushRun();
    run_.push_back(e);
  }

  // A line for something that happened at `ms`.
  void event(int64_t ms, const std::string& what) {
    flushRun();
    std::fprintf(file_, "%6" PRId64 ".%06d # %s\n", ms / 1000, static_cast<int>(ms % 1000) * 1000,
                 what.c_str());
  }

  // Writes a run that nothing has joined for a while, and hands the file to
  // the system now and then, so the transcript can be followed as it grows.
  void tick(int64_t ms) {
    if (!run_.empty() && ms * 1000 - run_.back().timeUs > joinGapUs(run_.back().baud)) flushRun();
    if (ms - lastFlushMs_ >= 100) {
      std::fflush(file_);
      lastFlushMs_ = ms;
    }
  }

  // Everything written; false when the file could not take it.
  bool finish() {
    flushRun();
    return std::fflush(file_) == 0 && !std::ferror(file_);
  }

 private:
  // Bytes closer than this (three byte times, at least 2 ms) share a run.
  static int64_t joinGapUs(uint32_t baud) {
    return std::max<int64_t>(2000, baud > 0 ? 30'000'000 / baud : 0);
  }
  static constexpr size_t kPerLine = 16;

  void flushRun() {
    if (run_.empty()) return;
    const Entry& first = run_[0];
    static const char* const kFates[] = {"taken", "ignored", "lost", "noise"};
    std::fprintf(file_, "%6" PRId64 ".%06d %s %6" PRIu32 " %-7s", first.timeUs / 1'000'000,
                 static_cast<int>(first.timeUs % 1'000'000),
                 first.direction == Entry::Direction::kToReceiver ? "P>R" : "R>P", first.baud,
                 kFates[static_cast<int>(first.fate)]);
    for (const Entry& e : run_) std::fprintf(file_, " %02X", e.byte);
    if (first.fate == Entry::Fate::kNoise) {
      std::fprintf(file_, " =>");
      for (const Entry& e : run_) std::fprintf(file_, " %02X", e.delivered);
    }
    std::fprintf(file_, " |");
    for (const Entry& e : run_) std::fputc(e.byte >= 0x20 && e.byte < 0x7F ? e.byte : '.', file_);
    std::fprintf(file_, "|\n");
    run_.clear();
  }

  FILE* file_;
  std::vector<Entry> run_;
  int64_t lastFlushMs_ = 0;
};

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
  g_stopSignal = signal;
}

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the line's wait ends at once
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void Status(const std::string& text) {
  std::fprintf(stderr, "velmora-sim: %s\n", text.c_str());
}

// What the program holds and must let go of at every exit.
class Simulator {
 public:
  explicit Simulator(const Options& options) : options_(options), model_(options.receiver) {
    if (options.adapterLatencyMs > 0) adapter_.emplace(model_, options.adapterLatencyMs);
  }

  int run() {
    if (!openRecords()) return finish(1);
    const uint32_t startBaud = options_.receiver.startInLoader ? options_.receiver.loaderBaud
                                                               : options_.receiver.firmwareBaud;
    std::string why;
    line_.setLineTiming(options_.receiver.lineTiming);
    if (!line_.create(startBaud, &why)) {
      Status(why);
      return finish(1);
    }
    if (options_.alias && !alias_.claim(options_.com, line_.devicePath(), &why)) {
      Status("cannot register " + ComName(options_.com) + ": " + why);
      return finish(1);
    }
    std::printf("%s\n", line_.devicePath().c_str());
    if (alias_.claimed()) std::printf("%s\n", ComName(options_.com).c_str());
    std::fflush(stdout);
    Status("serving " + line_.devicePath() +
           (alias_.claimed()
                ? " as " + ComName(options_.com) + " (alias in " + PortAliasDirectory() + ")"
                : "") +
           "; " + describeStart());
    return finish(serve());
  }

 private:
  bool openRecords() {
    if (!options_.log.empty()) {
      logFile_ = std::fopen(options_.log.c_str(), "w");
      if (logFile_ == nullptr) {
        Status("cannot write the log " + options_.log + ": " + std::strerror(errno));
        return false;
      }
      log_.emplace(logFile_);
      model_.setTranscriptSink([this](const ReceiverModel::TranscriptEntry& e) { log_->add(e); });
    }
    if (!options_.ioLog.empty()) {
      ioLogFile_ = std::fopen(options_.ioLog.c_str(), "w");
      if (ioLogFile_ == nullptr) {
        Status("cannot write the I/O log " + options_.ioLog + ": " + std::strerror(errno));
        return false;
      }
      std::fprintf(ioLogFile_,
                   "# velmora-sim terminal I/O: MICROS DIR COUNT HEX (see velmora-sim --help)\n");
      line_.setIoObserver(
          [file = ioLogFile_](PtyLine::Direction d, int64_t us, const uint8_t* data, size_t count) {
            std::fprintf(file, "%" PRId64 " %s %zu ", us,
                         d == PtyLine::Direction::kFromProgrammer ? "P>R" : "R>P", count);
            // By hand rather than a printf a byte: the line waits while this runs.
            static constexpr char kHex[] = "0123456789ABCDEF";
            char hex[512];
            for (size_t i = 0; i < count; i += sizeof hex / 2) {
              const size_t n = std::min(count - i, sizeof hex / 2);
              for (size_t j = 0; j < n; ++j) {
                hex[2 * j] = kHex[data[i + j] >> 4];
                hex[2 * j + 1] = kHex[data[i + j] & 0xF];
              }
              std::fwrite(hex, 1, 2 * n, file);
            }
            std::fputc('\n', file);
          });
    }
    if (!options_.flashOut.empty()) {
      flashFile_ = std::fopen(options_.flashOut.c_str(), "wb");
      if (flashFile_ == nullptr) {
        Status("cannot write the flash dump " + options_.flashOut + ": " + std::strerror(errno));
        return false;
      }
    }
    return true;
  }

  std::string describeStart() const {
    const ReceiverConfig& c = options_.receiver;
    std::string s = c.startInLoader ? "loader at " + std::to_string(c.loaderBaud) + " bps"
                                    : "firmware at " + std::to_string(c.firmwareBaud) + " bps";
    s += c.lineTiming ? ", line timing on" : ", no line timing";
    if (options_.adapterLatencyMs > 0)
      s += ", adapter latency " + std::to_string(options_.adapterLatencyMs) + " ms";
    return s;
  }

  void event(const std::string& what) {
    Status(what);
    if (log_) log_->event(line_.nowMs(), what);
  }

  // The serving loop; returns the exit status.
  int serve() {
    int session = 0;
    int64_t goneAtMs = -1;
    for (;;) {
      if (g_stopSignal != 0) {
        event(std::string("stopped by ") + strsignal(g_stopSignal));
        return 0;
      }
      const bool wasDone = model_.mode() == ReceiverModel::Mode::kDone;
      const uint32_t baudBefore = line_.baud();
      const PtyLine::Event e = line_.serve(adapter_ ? static_cast<LinePeer&>(*adapter_)
                                                    : static_cast<LinePeer&>(model_));
      const int64_t now = line_.nowMs();
      if (line_.baud() != baudBefore && log_)
        log_->event(now, "programmer's speed " + std::to_string(line_.baud()) + " bps");
      if (wasDone && model_.mode() == ReceiverModel::Mode::kFirmware)
        event("programming ended: receiver restarted into its firmware");
      if (e == PtyLine::Event::kOpened) {
        ++session;
        if (model_.mode() == ReceiverModel::Mode::kDone) {
          model_.reboot();
          event("programming ended last session: receiver restarted into its firmware");
        }
        event("session " + std::to_string(session) + ": port opened");
      } else if (e == PtyLine::Event::kClosed) {
        event("session " + std::to_string(session) + ": port closed");
        if (options_.once) return 0;
      }
      if (model_.lineGone() && goneAtMs < 0) goneAtMs = now;
      // The last request still reaches the programmer before the line goes.
      if (goneAtMs >= 0 && now - goneAtMs >= goneDelayMs()) {
        line_.hangUp();
        event("line gone: terminal closed");
        return 0;
      }
      if (log_) log_->tick(now);
    }
  }

  // Writes the records and removes the alias; returns `status`, or 1 when a
  // record could not be written.
  int finish(int status) {
    if (log_) {
      log_->event(line_.nowMs(), "end");
      if (!log_->finish()) {
        Status("cannot write the log " + options_.log);
        status = 1;
      }
    }
    if (logFile_ != nullptr && std::fclose(logFile_) != 0) status = 1;
    logFile_ = nullptr;
    if (ioLogFile_ != nullptr) {
      line_.setIoObserver(nullptr);
      const bool ok = !std::ferror(ioLogFile_);
      if (std::fclose(ioLogFile_) != 0 || !ok) {
        Status("cannot write the I/O log " + options_.ioLog);
        status = 1;
      }
      ioLogFile_ = nullptr;
    }
    if (flashFile_ != nullptr) {
      const auto& flash = model_.flash();
      const bool ok = std::fwrite(flash.data(), 1, flash.size(), flashFile_) == flash.size();
      if (std::fclose(flashFile_) != 0 || !ok) {
        Status("cannot write the flash dump " + options_.flashOut);
        status = 1;
      }
      flashFile_ = nullptr;
    }
    std::string why;
    if (!alias_.release(&why)) {
      Status(why);
      status = 1;
    }
    return status;
  }

  // Long enough for a block request (ten bytes) to cross the line twice over.
  int64_t goneDelayMs() const {
    const uint32_t baud = model_.loaderBaud() > 0 ? model_.loaderBaud() : 9600;
    return 5 + (options_.receiver.lineTiming ? 2 * 10 * 10 * 1000 / baud : 0);
  }

  const Options& options_;
  ReceiverModel model_;
  std::optional<AdapterLatency> adapter_;  // between the model and the line, when asked for
  PtyLine line_;
  // Held for the program's life: the alias is followed only while it runs.
  LivePortAlias alias_;
  FILE* logFile_ = nullptr;
  std::optional<TranscriptLog> log_;
  FILE* ioLogFile_ = nullptr;
  FILE* flashFile_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  Options options;
  options.receiver.lineTiming = true;
  options.receiver.keepTranscript = false;  // the log is written as it goes
  options.receiver.restartAfterExMs = kRestartAfterExMs;
  options.receiver.frameTimeoutMs = kFrameTimeoutMs;
  std::string error;
  switch (ArgParser(argc, argv).parse(&options, &error)) {
    case Parsed::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case Parsed::kBad:
      std::fprintf(stderr, "velmora-sim: %s\nTry 'velmora-sim --help' for the options.\n",
                   error.c_str());
      return 2;
    case Parsed::kRun:
      break;
  }
  CatchStopSignals();
  Simulator simulator(options);
  return simulator.run();
}
