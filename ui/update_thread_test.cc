// The worker's word building and outcome rule.
#include "ui/update_thread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

Strings Words(const ArgumentVector& v) {
  Strings words;
  for (int i = 1; i < v.argc; ++i) words.emplace_back(v.slot[i]);
  return words;
}

}  // namespace

TEST(UpdateThreadTest, TemplateIsTheArgumentsJoined) {
  EXPECT_EQ(CommandTemplate({"velmora", "fwp", "-uart", "COM<COMPORT>"}), "fwp -uart COM<COMPORT>");
  EXPECT_EQ(CommandTemplate({"velmora"}), "");
  EXPECT_EQ(CommandTemplate({}), "");
}

// The template from a whole command line: the program's name, quoted or
// not, and the white space after it go; the rest stays as it is.
TEST(UpdateThreadTest, TemplateIsTheCommandLineAfterTheName) {
  const std::pair<const char*, const char*> cases[] = {
      {"velmora.exe fwp -uart COM<COMPORT>", "fwp -uart COM<COMPORT>"},
      {"\"C:\\Program Files\\Velmora\\velmora.exe\"  \t x  -app a.bin ", "x  -app a.bin "},
      {"\"velmora.exe\"x -uart COM3", "x -uart COM3"},
      {"velmora.exe", ""},
      {"\"velmora.exe", ""},
      {"velmora.exe   ", ""},
      {"", ""},
  };
  for (const auto& [line, tail] : cases) EXPECT_EQ(CommandTail(line), tail) << line;
}

TEST(UpdateThreadTest, PortTokenReplacedEverywhere) {
  EXPECT_EQ(ReplacePortToken("a COM<COMPORT> b<COMPORT>", 12), "a COM12 b12");
  EXPECT_EQ(ReplacePortToken("fwp -uart COM3", 7), "fwp -uart COM3");
  // Case-sensitive, and a number that itself looks like text is not
  // searched again.
  EXPECT_EQ(ReplacePortToken("<comport> <COMPORT><COMPORT>", 0), "<comport> 00");
}

TEST(UpdateThreadTest, ThreeWordsWithThePort) {
  ArgumentVector v;
  BuildArguments(ReplacePortToken("x -uart COM<COMPORT>", 3), v);
  EXPECT_EQ(v.argc, 3);
  EXPECT_EQ(v.slot[0], nullptr);
  EXPECT_EQ(Words(v), (Strings{"-uart", "COM3"}));
}

TEST(UpdateThreadTest, OnlyBlanksSeparate) {
  ArgumentVector blanks;
  BuildArguments("  a   b  ", blanks);
  EXPECT_EQ(blanks.argc, 2);
  EXPECT_EQ(Words(blanks), Strings{"b"});

  ArgumentVector tab;
  BuildArguments("x a\tb \"c d\"", tab);
  EXPECT_EQ(Words(tab), (Strings{"a\tb", "c d"}));
}

// Quoted words as a Windows command line means them: they keep their blanks
// and lose their quotes; words without quotes split exactly at blanks.
TEST(UpdateThreadTest, QuotedWordsKeepTheirBlanks) {
  const std::pair<const char*, Strings> cases[] = {
      {R"(x -app "C:\Users\Ana Lima\fw\app.bin")",
       {"x", "-app", R"(C:\Users\Ana Lima\fw\app.bin)"}},
      {R"(x -uart "COM3")", {"x", "-uart", "COM3"}},
      {R"(x a"b c"d "")", {"x", "ab cd", ""}},
      {R"(x "a ""b"" c" "unclosed  end)", {"x", R"(a "b" c)", "unclosed  end"}},
      {R"(x a\"b "c\\" d\\\"e C:\dir\ f\\)",
       {"x", R"(a"b)", R"(c\)", R"(d\"e)", R"(C:\dir\)", R"(f\\)"}},
      {"x a\tb  c ", {"x", "a\tb", "c"}},
  };
  for (const auto& [text, words] : cases) EXPECT_EQ(SplitTemplate(text), words) << text;
}

// On a platform that hands over its arguments split, the template gives
// them back whole, whatever they hold.
TEST(UpdateThreadTest, ArgumentsComeBackFromTheTemplate) {
  const Strings arguments = {
      "velmora",          "fwp",      "-app",        "/home/ana lima/app.bin", "say \"hi\"",
      R"(C:\dir with\ )", R"(a\"b\)", "COM<COMPORT>"};
  EXPECT_EQ(SplitTemplate(CommandTemplate(arguments)),
            Strings(arguments.begin() + 1, arguments.end()));
}

TEST(UpdateThreadTest, EmptyAndSingleWord) {
  ArgumentVector none;
  BuildArguments("", none);
  EXPECT_EQ(none.argc, 0);
  ArgumentVector one;
  BuildArguments("   fwp ", one);
  EXPECT_EQ(one.argc, 1);
  EXPECT_EQ(one.slot[0], nullptr);
}

TEST(UpdateThreadTest, MoreWordsThanSlots) {
  std::string text;
  for (int i = 0; i < 150; ++i) text += "w" + std::to_string(i) + " ";
  ArgumentVector v;
  BuildArguments(text, v);
  EXPECT_EQ(v.argc, kArgumentSlots);
  EXPECT_EQ(std::string(v.slot[99]), "w99");
}

TEST(UpdateThreadTest, OutcomeRule) {
  EXPECT_EQ(ChooseOutcome(0, 1), OUTCOME_NOT_COMPLETE);
  EXPECT_EQ(ChooseOutcome(1, 1), OUTCOME_COMPLETE);
  EXPECT_EQ(ChooseOutcome(2, 1), OUTCOME_COMPLETE);
  EXPECT_EQ(ChooseOutcome(3, 1), OUTCOME_NOT_COMPLETE);
  // Any flag but 1 means stopped, whatever the engine returned.
  for (int result : {0, 1, 2, 3}) {
    EXPECT_EQ(ChooseOutcome(result, 0), OUTCOME_STOPPED);
    EXPECT_EQ(ChooseOutcome(result, 5), OUTCOME_STOPPED);
  }
}
