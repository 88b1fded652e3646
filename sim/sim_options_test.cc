#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SimCommandLine Parse(std::vector<std::string> words, SimOptions* options) {
  words.insert(words.begin(), "velmora-sim");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  return ParseSimCommandLine(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(SimOptions, ReadsEveryOptionInBothForms) {
  SimOptions o;
  const SimCommandLine line = Parse({"--com=231",
                                     "--adapter-latency",
                                     "16",
                                     "--no-alias",
                                     "--once",
                                     "--no-timing",
                                     "--loader",
                                     "57600",
                                     "--firmware-baud=38400",
                                     "--no-sentences",
                                     "--sentence-period",
                                     "20",
                                     "--request-size",
                                     "131072",
                                     "--seed",
                                     "0xFFFFFFFF",
                                     "--boot-protected",
                                     "--fail-address",
                                     "0x10000",
                                     "--silent-after-header",
                                     "2",
                                     "--silent-after-request=3",
                                     "--ok-instead-of-request",
                                     "4",
                                     "--free-text",
                                     "--drop-every",
                                     "500",
                                     "--request-outside",
                                     "below",
                                     "--garbled-request",
                                     "5",
                                     "--line-gone",
                                     "6",
                                     "--fault",
                                     "request:noise:3",
                                     "--fault=sync:ok",
                                     "--flash-out",
                                     "f.bin",
                                     "--log",
                                     "l.txt",
                                     "--io-log",
                                     "io.txt"},
                                    &o);
  ASSERT_EQ(line.kind, SimCommandLine::Kind::kRun) << line.text;
  EXPECT_EQ(o.com, 231);
  EXPECT_EQ(o.adapterLatencyMs, 16);
  EXPECT_FALSE(o.alias);
  EXPECT_TRUE(o.once);
  const ReceiverConfig& r = o.receiver;
  EXPECT_FALSE(r.lineTiming);
  EXPECT_FALSE(r.keepTranscript);
  EXPECT_TRUE(r.startInLoader);
  EXPECT_EQ(r.loaderBaud, 57600u);
  EXPECT_EQ(r.firmwareBaud, 38400u);
  EXPECT_FALSE(r.emitSentences);
  EXPECT_EQ(r.sentencePeriodMs, 20);
  EXPECT_EQ(r.requestSize, 131072u);
  EXPECT_EQ(r.seed, 0xFFFFFFFFu);
  const Faults& f = r.faults;
  EXPECT_TRUE(f.bootWriteProtected);
  EXPECT_EQ(f.failSlotAddress, 0x10000u);
  EXPECT_EQ(f.silentAfterHeader, 2);
  EXPECT_EQ(f.silentAfterRequest, 3);
  EXPECT_EQ(f.okInsteadOfRequest, 4);
  EXPECT_TRUE(f.freeTextBetweenReplies);
  EXPECT_EQ(f.dropEveryNthByte, 500);
  EXPECT_EQ(f.requestOutsideImage, Faults::Outside::kBelowStart);
  EXPECT_EQ(f.garbledRequest, 5);
  EXPECT_EQ(f.lineGone, 6);
  ASSERT_EQ(f.stages.size(), 2u);
  EXPECT_EQ(f.stages[0].stage, Stage::kRequest);
  EXPECT_EQ(f.stages[0].nth, 3);
  EXPECT_EQ(f.stages[1].action, Action::kOk);
  EXPECT_EQ(o.flashOut, "f.bin");
  EXPECT_EQ(o.log, "l.txt");
  EXPECT_EQ(o.ioLog, "io.txt");

  SimOptions defaults;
  ASSERT_EQ(Parse({}, &defaults).kind, SimCommandLine::Kind::kRun);
  EXPECT_EQ(defaults.com, 200);
  EXPECT_TRUE(defaults.alias);
  EXPECT_TRUE(defaults.receiver.lineTiming);
  EXPECT_FALSE(defaults.receiver.startInLoader);
}

TEST(SimOptions, BadWordsGiveAReasonThatNamesTheOption) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--com", "0"}, "--com needs a number from 1 to 256"},
      {{"--com", "0x101"}, "--com needs a number from 1 to 256"},
      {{"--adapter-latency", "256"}, "--adapter-latency needs milliseconds from 1 to 255"},
      {{"--seed", "0x100000000"}, "--seed needs a number from 0 to 4294967295"},
      {{"--request-size", "0"}, "--request-size needs a byte count from 1 to 2097152"},
      {{"--sentence-period", "60001"}, "--sentence-period needs milliseconds from 1 to 60000"},
      {{"--drop-every", "-1"}, "--drop-every needs a count from 1 up"},
      {{"--log"}, "--log needs a file name"},
      {{"--log="}, "--log needs a file name"},
      {{"--no-timing=yes"}, "--no-timing takes no value"},
      {{"--request-outside", "sideways"}, "--request-outside needs beyond or below"},
      {{"--fault", "detect:ok"}, "--fault needs STAGE:ACTION[:N]: ok means nothing at detect"},
      {{"--com", "3", "--com", "0"}, "--com needs a number from 1 to 256"},
      {{"--seed", "1", "2"}, "unknown option 2"},
  };
  for (const auto& [words, why] : cases) {
    SimOptions o;
    const SimCommandLine line = Parse(words, &o);
    EXPECT_EQ(line.kind, SimCommandLine::Kind::kBad) << words[0];
    EXPECT_EQ(line.text, why);
  }
  SimOptions o;
  const SimCommandLine help = Parse({"--once", "-h", "--bogus"}, &o);
  EXPECT_EQ(help.kind, SimCommandLine::Kind::kHelp);
  EXPECT_NE(help.text.find("Usage: velmora-sim [OPTIONS]\n"), std::string::npos) << help.text;
  for (const char* option : {"--com N ", "--once ", "--fault STAGE:ACTION[:N]", "--io-log FILE"})
    EXPECT_NE(help.text.find(option), std::string::npos) << option;
}

}  // namespace
