#include "line/line_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

LineCommandLine Parse(std::vector<std::string> words, LineOptions* options) {
  words.insert(words.begin(), "velmora-line");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  return ParseLineCommandLine(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(LineOptions, ReadsTheOptionsAndTheProgrammersWords) {
  LineOptions o;
  ASSERT_EQ(Parse({"--ports", "COM33,COM40-COM47", "--log", "runs.jsonl", "--trace", "traces",
                   "--repeat", "--quiet", "7", "--", "-baud", "230400", "-app", "app.bin"},
                  &o)
                .kind,
            LineCommandLine::Kind::kRun);
  EXPECT_EQ(o.ports, "COM33,COM40-COM47");
  EXPECT_FALSE(o.allUsb);
  EXPECT_EQ(o.log, "runs.jsonl");
  EXPECT_EQ(o.traceDir, "traces");
  EXPECT_TRUE(o.repeat);
  EXPECT_EQ(o.quietMs, 7000);
  EXPECT_EQ(o.programmer, (std::vector<std::string>{"-baud", "230400", "-app", "app.bin"}));

  LineOptions usb;
  ASSERT_EQ(Parse({"--all-usb", "--", "-app", "a.bin"}, &usb).kind, LineCommandLine::Kind::kRun);
  EXPECT_TRUE(usb.allUsb);
  EXPECT_EQ(usb.quietMs, kDefaultQuietMs);
}

TEST(LineOptions, BadCommandLinesSayWhy) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--app", "a.bin"}, "velmora-line: unknown or incomplete option \"--app\"\n"},
      {{"--ports"}, "velmora-line: unknown or incomplete option \"--ports\"\n"},
      {{"--ports", "COM1", "x.bin"}, "velmora-line: unknown or incomplete option \"x.bin\"\n"},
      {{"--repeat=1", "--ports", "COM1"},
       "velmora-line: unknown or incomplete option \"--repeat\"\n"},
      {{"--ports", "COM1", "--quiet", "0"}, "velmora-line: --quiet takes 1 to 3600 seconds\n"},
      {{"--ports", "COM1", "--quiet", "5s"}, "velmora-line: --quiet takes 1 to 3600 seconds\n"},
      {{"--", "-app", "a.bin"}, "velmora-line: give either --ports LIST or --all-usb\n"},
      {{"--ports", "COM1", "--all-usb"}, "velmora-line: give either --ports LIST or --all-usb\n"},
  };
  for (const auto& [words, text] : cases) {
    LineOptions o;
    const LineCommandLine line = Parse(words, &o);
    EXPECT_EQ(line.kind, LineCommandLine::Kind::kBad) << words[0];
    EXPECT_EQ(line.text.substr(0, text.size()), text);
  }
  LineOptions o;
  const LineCommandLine help = Parse({"--ports", "COM1", "-h", "--bogus"}, &o);
  EXPECT_EQ(help.kind, LineCommandLine::Kind::kHelp);
  EXPECT_NE(help.text.find("Usage: velmora-line (--ports LIST | --all-usb) [OPTIONS] -- "
                           "PROGRAMMER OPTIONS\n"),
            std::string::npos)
      << help.text;
}

}  // namespace
