#include "serial/trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class StepClock : public TraceClock {
 public:
  int64_t nowUs() override { return now += 250; }
  int64_t now = 1000000;
};

// A link that logs the calls it gets and hands out scripted reads.
struct FakeLink : SerialLink {
  std::vector<std::string>* calls;
  std::deque<std::string> reads;
  bool failWrites = false;
  bool isGone = false;

  explicit FakeLink(std::vector<std::string>* c) : calls(c) {}
  ~FakeLink() override { calls->push_back("close"); }
  void setBaudRate(uint32_t baud) override { calls->push_back("rate " + std::to_string(baud)); }
  void drain() override { calls->push_back("drain"); }
  bool write(const void* data, size_t count) override {
    calls->push_back("write " + std::string(static_cast<const char*>(data), count));
    return !failWrites;
  }
  size_t read(void* buffer, size_t count) override {
    if (reads.empty()) return 0;
    std::string next = reads.front().substr(0, count);
    reads.front().erase(0, next.size());
    if (reads.front().empty()) reads.pop_front();
    next.copy(static_cast<char*>(buffer), next.size());
    return next.size();
  }
  bool gone() const override { return isGone; }
};

struct FakeOpener : PortOpener {
  std::vector<std::string> calls;
  FakeLink* last = nullptr;
  std::unique_ptr<SerialLink> open(const char* name, uint32_t baud, std::string* why) override {
    calls.push_back("open " + std::string(name) + " " + std::to_string(baud));
    if (std::string(name) == "COM9") {
      if (why) *why = "no such port";
      return nullptr;
    }
    auto link = std::make_unique<FakeLink>(&calls);
    last = link.get();
    return link;
  }
};

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Trace, RecordsEveryCallAndForwardsItUnchanged) {
  const std::string path = ::testing::TempDir() + "trace_test.txt";
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  StepClock clock;
  FakeOpener inner;
  {
    TraceWriter writer(file, clock);
    TracingOpener opener(inner, writer);
    std::string why;
    EXPECT_EQ(opener.open("COM9", 4800, &why), nullptr);
    EXPECT_EQ(why, "no such port");

    std::unique_ptr<SerialLink> link = opener.open("COM3", 115200, &why);
    ASSERT_NE(link, nullptr);
    inner.last->reads = {"R", "X|\x01\xFF"};
    EXPECT_TRUE(link->write("........QV", 10));
    char got[8] = {};
    EXPECT_EQ(link->read(got, 1), 1u);
    EXPECT_EQ(link->read(got, 1), 1u);
    EXPECT_EQ(link->read(got, 8), 3u);
    EXPECT_EQ(std::string(got, 3), "|\x01\xFF");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(link->read(got, 1), 0u);  // quiet polls: no lines
    link->setBaudRate(230400);
    link->drain();
    inner.last->failWrites = true;
    EXPECT_FALSE(link->write("\r\n", 2));
    EXPECT_FALSE(link->gone());
    inner.last->isGone = true;
    EXPECT_TRUE(link->gone());
    EXPECT_TRUE(link->gone());  // recorded once
    link.reset();
  }
  EXPECT_EQ(inner.calls,
            (std::vector<std::string>{"open COM9 4800", "open COM3 115200", "write ........QV",
                                      "rate 230400", "drain", "write \r\n", "close"}));
  EXPECT_EQ(Contents(path),
            "# velmora trace: MICROS WHAT BAUD ... (see serial/trace.h)\n"
            "1000250 open-failed 4800 COM9: no such port\n"
            "1000500 open 115200 COM3\n"
            "1000750 P>R 115200 10 2E 2E 2E 2E 2E 2E 2E 2E 51 56 |........QV|\n"
            "1001000 R>P 115200 1 52 |R|\n"
            "1001250 R>P 115200 1 58 |X|\n"
            "1001500 R>P 115200 3 7C 01 FF ||..|\n"
            "1001750 rate 230400\n"
            "1002000 drain 230400\n"
            "1002250 P>R 230400 2 0D 0A |..|\n"
            "1002500 write-failed 230400\n"
            "1002750 gone 230400\n"
            "1003000 close 230400\n");
  std::remove(path.c_str());
}

// A file that takes nothing (a full disk): the writer keeps the first error
// and reports it at the next flush, at the latest when the link closes.
TEST(Trace, KeepsTheFirstWriteErrorOfTheFile) {
  std::FILE* file = std::fopen("/dev/full", "w");
  ASSERT_NE(file, nullptr);
  StepClock clock;
  FakeOpener inner;
  TraceWriter writer(file, clock);
  EXPECT_EQ(writer.error(), 0);
  {
    TracingOpener opener(inner, writer);
    std::unique_ptr<SerialLink> link = opener.open("COM3", 115200, nullptr);
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->write("........QV", 10));  // the link goes on all the same
  }
  EXPECT_EQ(writer.error(), ENOSPC);
  EXPECT_FALSE(writer.flush());
}

}  // namespace
