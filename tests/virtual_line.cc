#include "tests/virtual_line.h"

#include <algorithm>
#include <cstring>

uint64_t VirtualClock::passIdle(uint64_t nextByteInMs) {
  uint64_t step = 1;
  if (skipIdle && waiting_) {
    const auto untilTimeUp = static_cast<int32_t>(timeUp_ - now_);
    if (untilTimeUp > 1)
      step = std::max<uint64_t>(1, std::min<uint64_t>(nextByteInMs, untilTimeUp));
  }
  now_ += static_cast<uint32_t>(step);
  return step;
}

VirtualLine::VirtualLine(VirtualClock& clock, LinePeer& peer, uint32_t baud,
                         std::vector<LineEvent>& log)
    : clock_(clock), peer_(peer), baud_(baud), log_(log) {
  log_.push_back({LineEvent::kOpen, clock_.nowMs(), baud_, {}});
}

VirtualLine::~VirtualLine() {
  log_.push_back({LineEvent::kClose, clock_.nowMs(), baud_, {}});
}

void VirtualLine::setBaudRate(uint32_t baud) {
  baud_ = baud;
  log_.push_back({LineEvent::kBaud, clock_.nowMs(), baud_, {}});
}

void VirtualLine::drain() {
  log_.push_back({LineEvent::kDrain, clock_.nowMs(), baud_, {}});
}

bool VirtualLine::write(const void* data, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  log_.push_back({LineEvent::kWrite, clock_.nowMs(), baud_, {bytes, bytes + count}});
  if (peer_.goneForGood()) return false;
  peer_.receive(clock_.nowMs(), baud_, bytes, count);
  return true;
}

size_t VirtualLine::read(void* buffer, size_t count) {
  size_t got = peer_.transmit(clock_.nowMs(), baud_, static_cast<uint8_t*>(buffer), count);
  if (got == 0) {
    const int64_t now = clock_.nowMs();
    const int64_t next = peer_.nextByteMs(now);
    clock_.passIdle(next == INT64_MAX ? UINT64_MAX
                                      : static_cast<uint64_t>(std::max<int64_t>(next - now, 0)));
    if (peer_.goneForGood()) gone_ = true;
  }
  return got;
}

VirtualPortOpener::VirtualPortOpener(LinePeer& peer) : peer_(peer) {
  SerialPort::setOpener(this);
  SetEngineClock(&clock);
}

VirtualPortOpener::~VirtualPortOpener() {
  SerialPort::close();
  SerialPort::setOpener(nullptr);
  SetEngineClock(nullptr);
}

std::unique_ptr<SerialLink> VirtualPortOpener::open(const char* portName, uint32_t baud,
                                                    std::string* why) {
  openedNames.emplace_back(portName);
  if (refuse) {
    if (why) *why = "no such device";
    return nullptr;
  }
  return std::make_unique<VirtualLine>(clock, peer_, baud, log);
}

std::vector<uint8_t> VirtualPortOpener::written() const {
  std::vector<uint8_t> all;
  for (const auto& e : log)
    if (e.kind == LineEvent::kWrite) all.insert(all.end(), e.bytes.begin(), e.bytes.end());
  return all;
}

std::vector<std::vector<uint8_t>> VirtualPortOpener::writes() const {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& e : log)
    if (e.kind == LineEvent::kWrite) out.push_back(e.bytes);
  return out;
}
