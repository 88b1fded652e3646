#include "sim/adapter_latency.h"

#include <algorithm>
#include <cstring>

size_t AdapterLatency::transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) {
  // Everything that has crossed the line by now is in the adapter.
  uint8_t chunk[1024];
  while (size_t n = receiver_.transmit(nowMs, baud, chunk, sizeof chunk)) {
    if (held_.empty()) firstHeldMs_ = nowMs;
    held_.insert(held_.end(), chunk, chunk + n);
  }
  // Full packets go at once; the rest when the timer runs out. The bytes
  // left behind a full packet came after its first byte: their timer starts
  // now, within the millisecond this call stands for.
  while (held_.size() >= kPacketBytes) {
    ready_.insert(ready_.end(), held_.begin(), held_.begin() + kPacketBytes);
    held_.erase(held_.begin(), held_.begin() + kPacketBytes);
    firstHeldMs_ = nowMs;
  }
  if (!held_.empty() && nowMs - firstHeldMs_ >= latencyMs_) {
    ready_.insert(ready_.end(), held_.begin(), held_.end());
    held_.clear();
  }
  const size_t n = std::min(count, ready_.size() - readyHead_);
  if (n > 0) std::memcpy(buffer, ready_.data() + readyHead_, n);
  readyHead_ += n;
  if (readyHead_ == ready_.size()) {
    ready_.clear();
    readyHead_ = 0;
  }
  return n;
}
