#include "line/replacement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One observation: time, line there, bytes since the last.
struct Seen {
  int64_t ms;
  bool there;
  size_t bytes;
};

char Letter(ReplacementWatch::Step step) {
  switch (step) {
    case ReplacementWatch::Step::kLeaving:
      return '.';
    case ReplacementWatch::Step::kLeftQuiet:
      return 'Q';
    case ReplacementWatch::Step::kLeftGone:
      return 'G';
    case ReplacementWatch::Step::kArrived:
      return 'A';
  }
  return '?';
}

TEST(ReplacementTest, LeavesThenTalks) {
  struct Case {
    const char* what;
    std::vector<Seen> seen;
    std::string steps;
  };
  const Case cases[] = {
      {"the programmed receiver talks on: it never left",
       {{1000, true, 70}, {4000, true, 70}, {8000, true, 70}, {12000, true, 70}},
       "...."},
      {"quiet for the quiet time, then a new one talks",
       {{1000, true, 70}, {5999, true, 0}, {6000, true, 0}, {9000, true, 8}},
       "..QA"},
      {"the adapter goes away and comes back with a receiver",
       {{100, true, 70}, {200, false, 0}, {300, false, 0}, {400, true, 0}, {500, true, 20}},
       ".G..A"},
      {"stray bytes: 7 in a second is no receiver, 8 are",
       {{0, false, 0}, {100, true, 3}, {600, true, 4}, {1100, true, 3}, {1500, true, 5}},
       "G...A"},
      {"bytes spread over more than a second do not add up",
       {{0, false, 0}, {100, true, 4}, {1100, true, 4}, {2100, true, 4}, {2200, true, 4}},
       "G...A"},
      {"the line going away starts the count again",
       {{0, false, 0}, {100, true, 7}, {200, false, 0}, {300, true, 1}, {400, true, 7}},
       "G...A"},
      {"once arrived it stays so", {{0, false, 0}, {10, true, 9}, {20, false, 0}}, "GAA"},
  };
  for (const Case& c : cases) {
    ReplacementWatch watch(0, 5000);
    std::string steps;
    for (const Seen& s : c.seen) steps += Letter(watch.observe(s.ms, s.there, s.bytes));
    EXPECT_EQ(steps, c.steps) << c.what;
  }
}

}  // namespace
