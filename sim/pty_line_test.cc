// PtyLine with a programmer on its device: how fast the line takes what the
// programmer writes, measured against the line's own clock (the times it
// hands to the peer), never against the wall clock.
#include "sim/pty_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "serial/termios_speed-posix.h"
#include "sim/sample_bytes.h"

namespace {

// Keeps what it is handed and the line's time of the last handing.
class RecordingPeer : public LinePeer {
 public:
  void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) override {
    if (calls == 0) firstMs = nowMs;
    lastMs = nowMs;
    lastBaud = baud;
    ++calls;
    bytes.append(reinterpret_cast<const char*>(data), count);
  }
  size_t transmit(int64_t, uint32_t, uint8_t*, size_t) override { return 0; }

  std::string bytes;
  int calls = 0;
  int64_t firstMs = 0, lastMs = 0;
  uint32_t lastBaud = 0;
};

struct PaceCase {
  uint32_t baud;
  bool timing;
};

void PrintTo(const PaceCase& c, std::ostream* os) {
  *os << c.baud << (c.timing ? " bit/s, line timing" : " bit/s, no line timing");
}

class PtyLinePace : public ::testing::TestWithParam<PaceCase> {};

// The programmer keeps the kernel's queue full for 300 ms of line time, then
// closes the device with bytes still queued.
TEST_P(PtyLinePace, TakesTheProgrammersBytesNoFasterThanTheWire) {
  const auto [baud, timing] = GetParam();
  PtyLine line;
  line.setLineTiming(timing);
  std::string why;
  ASSERT_TRUE(line.create(baud, &why)) << why;
  const int device = open(line.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(device, 0);
  termios t;
  speed_t speed;
  ASSERT_TRUE(TermiosSpeedForBaud(baud, &speed));
  ASSERT_EQ(tcgetattr(device, &t), 0);
  cfmakeraw(&t);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  ASSERT_EQ(tcsetattr(device, TCSANOW, &t), 0);
  RecordingPeer peer;
  int turns = 0;
  while (line.serve(peer) != PtyLine::Event::kOpened && ++turns < 100) {
  }
  ASSERT_TRUE(line.programmerPresent());

  const std::string data = SeededImage(64 * 1024, baud);
  size_t written = 0;
  // The wire runs from the first handing on; should a turn come so late that
  // the wire has sent all the buffer held, it fell idle and runs anew.
  size_t baseBytes = 0;
  int64_t baseMs = 0;
  while (peer.calls == 0 || (peer.lastMs - peer.firstMs < 300 && written < data.size())) {
    // Whatever the device takes now; the rest waits for room.
    const ssize_t n = write(device, data.data() + written, data.size() - written);
    if (n > 0) written += static_cast<size_t>(n);
    const int callsBefore = peer.calls;
    const size_t handedBefore = peer.bytes.size();
    const int64_t lastMsBefore = peer.lastMs;
    ASSERT_EQ(line.serve(peer), PtyLine::Event::kNone);
    const size_t handed = peer.bytes.size();
    if (!timing) {
      ASSERT_EQ(handed, written) << "without line timing a turn takes everything";
      continue;
    }
    if (peer.calls == 0) continue;
    if (callsBefore == 0 ||
        (peer.calls > callsBefore &&
         (peer.lastMs - lastMsBefore) * baud / 10'000 >= int64_t{PtyLine::kTransmitBuffer})) {
      baseBytes = handedBefore;
      baseMs = peer.lastMs;
    }
    // The transmit buffer ahead of the wire, and 10 bits a byte since then.
    const size_t allowed = baseBytes + PtyLine::kTransmitBuffer +
                           static_cast<size_t>((peer.lastMs - baseMs) * baud / 10'000);
    ASSERT_LE(handed, allowed) << "at line ms " << peer.lastMs - peer.firstMs;
    // A turn that read while bytes were left queued took all it was allowed.
    if (peer.calls > callsBefore && handed < written) {
      ASSERT_EQ(handed, allowed) << "at line ms " << peer.lastMs - peer.firstMs;
    }
  }
  EXPECT_EQ(peer.lastBaud, baud);
  if (timing) {
    EXPECT_LT(peer.bytes.size(), written) << "the writer never got ahead of the wire";
  }

  // Closed with bytes queued: they all reach the peer before the close is
  // reported, so none is left for the next session.
  close(device);
  PtyLine::Event event = PtyLine::Event::kNone;
  for (turns = 0; event == PtyLine::Event::kNone && turns < 100; ++turns) event = line.serve(peer);
  EXPECT_EQ(event, PtyLine::Event::kClosed);
  EXPECT_EQ(peer.bytes.size(), written);
  EXPECT_TRUE(peer.bytes == data.substr(0, written)) << "the bytes differ from those written";
}

INSTANTIATE_TEST_SUITE_P(Rates, PtyLinePace,
                         ::testing::Values(PaceCase{9600, true}, PaceCase{115200, true},
                                           PaceCase{230400, true}, PaceCase{230400, false}),
                         [](const ::testing::TestParamInfo<PaceCase>& p) {
                           return std::to_string(p.param.baud) +
                                  (p.param.timing ? "Timed" : "Untimed");
                         });

}  // namespace
