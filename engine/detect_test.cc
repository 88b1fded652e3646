#include "engine/detect.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/programmer.h"
#include "engine/protocol.h"
#include "tests/engine_fixture.h"

namespace {

using ::testing::ElementsAreArray;

const std::string kSync = "........QV";
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

// The line's history in a compact form: "b4800@12" a rate set, "d@12" a drain,
// "w<text>@12" a write.
std::vector<std::string> History(const std::vector<LineEvent>& log) {
  std::vector<std::string> out;
  for (const auto& e : log) {
    const std::string at = "@" + std::to_string(e.timeMs);
    switch (e.kind) {
      case LineEvent::kBaud:
        out.push_back("b" + std::to_string(e.baud) + at);
        break;
      case LineEvent::kDrain:
        out.push_back("d" + at);
        break;
      case LineEvent::kWrite:
        out.push_back("w" + std::string(e.bytes.begin(), e.bytes.end()) + "/" +
                      std::to_string(e.baud) + at);
        break;
      default:
        break;
    }
  }
  return out;
}

// The history of a detection that finds no loader, up to the sentence scan.
std::vector<std::string> LoaderMiss() {
  std::vector<std::string> h = {"b115200@0", "d@0"};
  int t = 12;  // 11 ms settling wait, 1 ms for the dropped byte
  for (int rate : kRateTable) {
    h.push_back("b" + std::to_string(rate) + "@" + std::to_string(t));
    h.push_back("w" + kSync + "/" + std::to_string(rate) + "@" + std::to_string(t));
    t += 101;
  }
  return h;
}

class DetectTest : public EngineTest {
 protected:
  DetectTest() { OpenPort(); }
};

TEST_F(DetectTest, SilentLineIsAFullMissOfEveryWaitAtItsLength) {
  EXPECT_EQ(DetectReceiver(), 0);
  std::vector<std::string> expected = LoaderMiss();
  expected.insert(expected.end(), {"b115200@719", "d@719"});
  int t = 731;  // 11 ms settling wait, 1 ms for the quiet read of the discard
  for (int rate : kSentenceScanRates) {
    expected.push_back("b" + std::to_string(rate) + "@" + std::to_string(t));
    expected.push_back("d@" + std::to_string(t));
    t += 1001;
  }
  EXPECT_THAT(History(line.log), ElementsAreArray(expected));
  EXPECT_EQ(now(), 6737);
  EXPECT_EQ(console.out, "");
  EXPECT_EQ(g_programmingBaud, 115200);
  EXPECT_EQ(line.log.back().baud, 115200u);
}

TEST_F(DetectTest, LoaderIsFoundAtTheFirstRateThatAnswers) {
  peer.then(kSync, "RX", 4800);
  EXPECT_EQ(DetectReceiver(), 1);
  EXPECT_EQ(g_programmingBaud, 4800);
  EXPECT_EQ(now(), 12);
  EXPECT_EQ(line.log.back().baud, 4800u);
}

TEST_F(DetectTest, LoaderOnlyAt230400IsFoundOnTheSeventhAttempt) {
  peer.then(kSync, "RX", 230400, 3);
  EXPECT_EQ(DetectReceiver(), 1);
  EXPECT_EQ(g_programmingBaud, 230400);
  EXPECT_EQ(now(), 618 + 3);  // six unanswered attempts, then the answer
  std::string sevenSyncs;
  for (int i = 0; i < 7; ++i) sevenSyncs += kSync;
  EXPECT_EQ(peer.received(), sevenSyncs);
}

TEST_F(DetectTest, AnyCompletedReplyCountsAsTheLoader) {
  peer.then(kSync, "OK", 19200);
  EXPECT_EQ(DetectReceiver(), 1);
  EXPECT_EQ(g_programmingBaud, 19200);
  EXPECT_EQ(console.out, "");
}

TEST_F(DetectTest, SentencesAreFoundAndTheReceiverIsSwitched) {
  peer.emitSentences(kGga, 38400, 200);
  EXPECT_EQ(DetectReceiver(), 1);
  EXPECT_EQ(console.out, "Found GPS 38400 bps\n");
  std::vector<std::string> expected = LoaderMiss();
  expected.insert(expected.end(),
                  {"b115200@719", "d@719", "b9600@731", "d@731", "b38400@1732", "d@1732",
                   // The sentence of 1800 ms completes at its line feed.
                   "w\r\n\r\n$PQVRX601,115200*00\r\n/38400@1800", "b115200@1901", "d@1901"});
  EXPECT_THAT(History(line.log), ElementsAreArray(expected));
  EXPECT_EQ(now(), 2002);
  EXPECT_EQ(g_programmingBaud, 115200);  // the switch keeps the programming rate
}

TEST_F(DetectTest, TheSwitchAsksForTheRateFromTheCommandLine) {
  g_programmingBaud = 57600;
  peer.emitSentences(kGga, 9600, 150);
  EXPECT_EQ(DetectReceiver(), 1);
  EXPECT_EQ(console.out, "Found GPS 9600 bps\n");
  const auto writes = line.writes();
  EXPECT_EQ(std::string(writes.back().begin(), writes.back().end()),
            "\r\n\r\n$PQVRX601,57600*00\r\n");
  EXPECT_EQ(writes.back().size(), 24u);
  EXPECT_EQ(line.log.back().baud, 57600u);
  EXPECT_EQ(g_programmingBaud, 57600);
}

TEST_F(DetectTest, SentencesOnlyAt230400AreNotFound) {
  peer.emitSentences(kGga, 230400, 100);
  EXPECT_EQ(DetectReceiver(), 0);
  EXPECT_EQ(now(), 6737);
}

TEST_F(DetectTest, ASentenceOpenedAtOneRateMayCompleteAtTheNext) {
  // Opened at 9600 just before its second is up; its end comes at 38400.
  peer.send("$GPRMC,1", 1012, 9600);
  peer.send(",2*00\r\n", 1014, 38400);
  EXPECT_EQ(ScanSentenceBaud(), 38400);
}

}  // namespace
