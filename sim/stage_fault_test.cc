#include "sim/stage_fault.h"

#include <gtest/gtest.h>

#include <string>

namespace {

StageFault Fault(const std::string& text) {
  StageFault f;
  std::string why;
  EXPECT_TRUE(ParseStageFault(text, &f, &why)) << why;
  return f;
}

TEST(StageFaults, ParseNamesCountsAndRefusesPairsThatMeanNothing) {
  const StageFault f = Fault("request:noise:3");
  EXPECT_EQ(f.stage, Stage::kRequest);
  EXPECT_EQ(f.action, Action::kNoise);
  EXPECT_EQ(f.nth, 3);
  EXPECT_EQ(Fault("between:pf").nth, 1);
  StageFault g;
  std::string why;
  for (const char* bad :
       {"header", "header:", "head:silent", "header:loud", "header:ok:0", "header:ok:x",
        "header:ok:", "sync:rx", "sync:pf", "detect:ok", "switch:noise"}) {
    why.clear();
    EXPECT_FALSE(ParseStageFault(bad, &g, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  EXPECT_EQ(why, "noise means nothing at switch");
}

}  // namespace
