#include "line/port_run.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Rate(int32_t baud) {
  return std::to_string(baud) + " bit/s";
}

// Pads or cuts `text` to exactly `width` characters.
std::string Fit(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string Seconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

}  // namespace

void PortRun::start(const bool present[kSlotCount], int64_t nowMs) {
  std::copy(present, present + kSlotCount, present_);
  std::fill(outcomes_, outcomes_ + kSlotCount, kNotWritten);
  phase_ = Phase::kStarting;
  stage_ = "starting";
  began_ = opened_ = found_ = gotResult_ = aborted_ = false;
  result_ = 0;
  beginMs_ = endMs_ = nowMs;
  totalAtMs_ = -1;
  total_ = position_ = 0;
  output_.clear();
}

std::string PortRun::apply(const Message& m, int64_t nowMs) {
  switch (m.kind) {
    case MessageKind::kWaiting:
      phase_ = Phase::kLeaving;
      stage_ = "waiting for the receiver to leave";
      return line(stage_);
    case MessageKind::kLeft:
      phase_ = Phase::kWaiting;
      stage_ = "waiting for the next receiver";
      return line(std::string("receiver left (") + (m.a ? "adapter gone" : "line quiet") +
                  "); waiting for the next receiver");
    case MessageKind::kBegin:
      phase_ = Phase::kRunning;
      began_ = true;
      beginMs_ = nowMs;
      stage_ = "opening the port";
      return line("receiver " + std::to_string(runs_ + 1));
    case MessageKind::kDetecting:
      opened_ = true;
      stage_ = "looking for the receiver";
      return line(stage_);
    case MessageKind::kLoaderFound:
      found_ = true;
      stage_ = "loader at " + Rate(m.a);
      return line(stage_);
    case MessageKind::kFirmwareFound:
      found_ = true;
      stage_ = "firmware at " + Rate(m.a);
      return line(stage_);
    case MessageKind::kSwitched:
      stage_ = "switched to " + Rate(m.a);
      return line(stage_);
    case MessageKind::kTotal:
      total_ = static_cast<uint32_t>(m.a);
      totalAtMs_ = nowMs;
      return "";
    case MessageKind::kPosition:
      position_ = static_cast<uint32_t>(m.a);
      return "";
    case MessageKind::kImage:
      if (m.a < 0 || m.a >= kSlotCount) return "";
      stage_ = "writing " + ImageName(m.a);
      return line(stage_);
    case MessageKind::kImageDone: {
      if (m.a < 0 || m.a >= kSlotCount) return "";
      outcomes_[m.a] = m.b;
      static const char* const kWords[] = {"not written", "written", "write-protected", "failed",
                                           "no response"};
      const char* word = m.b >= 0 && m.b <= 4 ? kWords[m.b] : "not written";
      return line(ImageName(m.a) + " " + word);
    }
    case MessageKind::kOutput:
      output_ += m.text;
      return "";
    case MessageKind::kError:
      return line(m.text);
    case MessageKind::kResult:
      gotResult_ = true;
      result_ = m.a;
      aborted_ = (m.b & kResultAborted) != 0;
      if (m.b & kResultNoRun) began_ = false;
      return "";
  }
  return "";
}

std::string PortRun::finish(int64_t nowMs) {
  phase_ = Phase::kDone;
  endMs_ = nowMs;
  if (!began_ && gotResult_) {
    stage_ = "stopped while waiting";
    return "";
  }
  if (!began_) beginMs_ = nowMs;
  began_ = true;
  ++runs_;
  if (completed()) ++completedRuns_;
  stage_ = resultWord();
  last_ = {stage_, imagesWritten(), imagesGiven(), durationMs()};
  return line(stage_ + " in " + Seconds(durationMs()));
}

std::string PortRun::resultWord() const {
  if (!gotResult_) return "ended abnormally";
  if (aborted_) return "stopped";
  switch (result_) {
    case 2:
      return "completed";
    case 3:
      return "image failed";
    case 1:
      return "ready, no image";
  }
  if (!opened_) return "port not opened";
  if (!found_) return "no receiver";
  for (int slot = 0; slot < kSlotCount; ++slot)
    if (outcomes_[slot] == kNoResponse) return "no response";
  return "failed";
}

int PortRun::imagesWritten() const {
  int n = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) n += present_[slot] && outcomes_[slot] == kWritten;
  return n;
}

int PortRun::imagesGiven() const {
  return static_cast<int>(std::count(present_, present_ + kSlotCount, true));
}

std::string PortRun::row(int64_t nowMs, int width) const {
  constexpr int kBar = 20;
  const bool live = phase_ == Phase::kRunning;
  const int64_t elapsedMs = (live ? nowMs : endMs_) - beginMs_;
  const int percent = total_ > 0 ? static_cast<int>(position_ * 100 / total_) : 0;
  const int filled = total_ > 0 ? static_cast<int>(position_ * kBar / total_) : 0;
  std::string bar = "[" + std::string(filled, '#') + std::string(kBar - filled, '-') + "]";
  char numbers[64];
  const int64_t transferMs = totalAtMs_ >= 0 ? (live ? nowMs : endMs_) - totalAtMs_ : 0;
  const int64_t rate = transferMs > 0 ? position_ * 1000 / transferMs : 0;
  std::snprintf(numbers, sizeof numbers, " %3d%% %7lld B/s %3lld:%02lld", percent,
                static_cast<long long>(rate), static_cast<long long>(elapsedMs / 60000),
                static_cast<long long>(elapsedMs / 1000 % 60));
  std::string adapter = info_.product;
  if (!info_.serial.empty()) adapter += " " + info_.serial;
  std::string text = Fit(info_.port, 8) + Fit(adapter, 28) + " " + Fit(stage_, 34) + bar + numbers;
  if (phase_ == Phase::kLeaving || phase_ == Phase::kWaiting || !began_)
    text = Fit(info_.port, 8) + Fit(adapter, 28) + " " + stage_;
  if (static_cast<int>(text.size()) > width) text.resize(std::max(width, 0));
  return text;
}

std::string SummaryTable(const std::vector<PortRun>& ports, bool station) {
  std::string out = Fit("PORT", 10) + Fit("RESULT", 18) + Fit("IMAGES", 9) +
                    (station ? Fit("TIME", 9) + "RECEIVERS" : "TIME") + "\n";
  int runs = 0, completed = 0;
  for (const PortRun& p : ports) {
    runs += p.runs();
    completed += p.completedRuns();
    const bool ran = p.runs() > 0;
    const PortRun::Finished& last = p.last();
    std::string row =
        Fit(p.info().port, 10) + Fit(ran ? last.result : "no run", 18) +
        Fit(ran ? std::to_string(last.written) + " of " + std::to_string(last.given) : "-", 9);
    const std::string time = ran ? Seconds(last.durationMs) : "-";
    row += station ? Fit(time, 9) + std::to_string(p.completedRuns()) + " of " +
                         std::to_string(p.runs()) + " completed"
                   : time;
    out += row + "\n";
  }
  const char* unit = station ? " receivers: " : " ports: ";
  out += std::to_string(station ? runs : static_cast<int>(ports.size())) + unit +
         std::to_string(completed) + " completed, " +
         std::to_string((station ? runs : static_cast<int>(ports.size())) - completed) +
         " not completed\n";
  return out;
}
