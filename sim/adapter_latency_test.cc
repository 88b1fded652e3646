#include "sim/adapter_latency.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// A receiver whose bytes reach the programmer's end at the given times.
class ScriptedReceiver : public LinePeer {
 public:
  explicit ScriptedReceiver(std::vector<std::pair<int64_t, size_t>> arrivals)
      : arrivals_(std::move(arrivals)) {}
  void receive(int64_t, uint32_t, const uint8_t*, size_t) override {}
  size_t transmit(int64_t nowMs, uint32_t, uint8_t* buffer, size_t count) override {
    size_t n = 0;
    while (next_ < arrivals_.size() && arrivals_[next_].first <= nowMs && n < count) {
      const size_t take = std::min(count - n, arrivals_[next_].second);
      for (size_t i = 0; i < take; ++i) buffer[n + i] = static_cast<uint8_t>(sent_++);
      n += take;
      if ((arrivals_[next_].second -= take) == 0) ++next_;
    }
    return n;
  }

 private:
  std::vector<std::pair<int64_t, size_t>> arrivals_;  // time, byte count
  size_t next_ = 0;
  int sent_ = 0;
};

// The bytes reach the programmer in packets of 62 or when the timer runs out
// from the first byte held, whichever comes first; none is lost or reordered.
TEST(AdapterLatency, HoldsBytesUntilAPacketIsFullOrTheTimerRunsOut) {
  struct Case {
    const char* what;
    int latencyMs;
    std::vector<std::pair<int64_t, size_t>> arrivals;
    std::vector<std::pair<int64_t, size_t>> delivered;  // time, bytes handed over then
  };
  const Case cases[] = {
      {"a block request waits out the timer", 16, {{0, 10}}, {{16, 10}}},
      {"and 1 ms in low-latency mode", 1, {{5, 10}}, {{6, 10}}},
      {"a full packet goes at once, the rest later", 16, {{0, 70}}, {{0, 62}, {16, 8}}},
      {"later bytes join the first one's timer", 16, {{0, 4}, {10, 4}}, {{16, 8}}},
      {"and fill a packet early", 16, {{0, 30}, {3, 32}}, {{3, 62}}},
  };
  for (const Case& c : cases) {
    ScriptedReceiver receiver(c.arrivals);
    AdapterLatency adapter(receiver, c.latencyMs);
    std::vector<std::pair<int64_t, size_t>> delivered;
    std::vector<uint8_t> all;
    for (int64_t ms = 0; ms <= 40; ++ms) {
      uint8_t buffer[256];
      const size_t n = adapter.transmit(ms, 115200, buffer, sizeof buffer);
      if (n > 0) delivered.emplace_back(ms, n);
      all.insert(all.end(), buffer, buffer + n);
    }
    EXPECT_EQ(delivered, c.delivered) << c.what;
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<uint8_t>(i)) << c.what;
  }
}

}  // namespace
