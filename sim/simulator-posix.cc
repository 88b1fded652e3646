#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "serial/port_names.h"
#include "sim/simulator.h"

namespace {

void Status(const std::string& text) {
  std::fprintf(stderr, "velmora-sim: %s\n", text.c_str());
}

}  // namespace

int Simulator::run(const std::function<int()>& stopSignal) {
  return start() ? serve(stopSignal) : finish(1);
}

bool Simulator::start() {
  if (!openRecords()) return false;
  const uint32_t startBaud = options_.receiver.startInLoader ? options_.receiver.loaderBaud
                                                             : options_.receiver.firmwareBaud;
  std::string why;
  line_.setLineTiming(options_.receiver.lineTiming);
  if (!line_.create(startBaud, &why)) {
    Status(why);
    return false;
  }
  if (options_.alias && !alias_.claim(options_.com, line_.devicePath(), &why)) {
    Status("cannot register " + ComName(options_.com) + ": " + why);
    return false;
  }
  std::printf("%s\n", line_.devicePath().c_str());
  if (alias_.claimed()) std::printf("%s\n", ComName(options_.com).c_str());
  std::fflush(stdout);
  Status("serving " + line_.devicePath() +
         (alias_.claimed()
              ? " as " + ComName(options_.com) + " (alias in " + PortAliasDirectory() + ")"
              : "") +
         "; " + describeStart());
  return true;
}

int Simulator::serve(const std::function<int()>& stopSignal) {
  return finish(serveSessions(stopSignal));
}

bool Simulator::openRecords() {
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

std::string Simulator::describeStart() const {
  const ReceiverConfig& c = options_.receiver;
  std::string s = c.startInLoader ? "loader at " + std::to_string(c.loaderBaud) + " bps"
                                  : "firmware at " + std::to_string(c.firmwareBaud) + " bps";
  s += c.lineTiming ? ", line timing on" : ", no line timing";
  if (options_.adapterLatencyMs > 0)
    s += ", adapter latency " + std::to_string(options_.adapterLatencyMs) + " ms";
  return s;
}

void Simulator::event(const std::string& what) {
  Status(what);
  if (log_) log_->event(line_.nowMs(), what);
}

int Simulator::serveSessions(const std::function<int()>& stopSignal) {
  int session = 0;
  int64_t goneAtMs = -1;
  for (;;) {
    if (const int signal = stopSignal(); signal != 0) {
      event(std::string("stopped by ") + strsignal(signal));
      return 0;
    }
    const bool wasDone = model_.mode() == ReceiverModel::Mode::kDone;
    const uint32_t baudBefore = line_.baud();
    const PtyLine::Event e =
        line_.serve(adapter_ ? static_cast<LinePeer&>(*adapter_) : static_cast<LinePeer&>(model_));
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

int Simulator::finish(int status) {
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

int64_t Simulator::goneDelayMs() const {
  const uint32_t baud = model_.loaderBaud() > 0 ? model_.loaderBaud() : 9600;
  return 5 + (options_.receiver.lineTiming ? 2 * 10 * 10 * 1000 / baud : 0);
}
