#include "ui/split_token.h"

#include <gtest/gtest.h>

TEST(SplitTokenTest, CutsAtTheFirstSeparator) {
  std::string source = "USB Serial (COM3) (x)";
  EXPECT_EQ(SplitToken(source, '(', false), "USB Serial ");
  EXPECT_EQ(source, "USB Serial (COM3) (x)");
  EXPECT_EQ(SplitToken(source, '(', true), "USB Serial ");
  EXPECT_EQ(source, "COM3) (x)");
}

TEST(SplitTokenTest, EmptyAndMissingSeparator) {
  std::string empty;
  EXPECT_EQ(SplitToken(empty, ' ', true), "");
  EXPECT_EQ(empty, "");

  std::string whole = "COM3";
  EXPECT_EQ(SplitToken(whole, '(', false), "COM3");
  EXPECT_EQ(whole, "COM3");
  EXPECT_EQ(SplitToken(whole, '(', true), "COM3");
  EXPECT_EQ(whole, "");
}

TEST(SplitTokenTest, SeparatorFirstGivesEmpty) {
  std::string source = "(COM7)";
  EXPECT_EQ(SplitToken(source, '(', false), "");
  EXPECT_EQ(source, "(COM7)");
  EXPECT_EQ(SplitToken(source, '(', true), "");
  EXPECT_EQ(source, "COM7)");
}
