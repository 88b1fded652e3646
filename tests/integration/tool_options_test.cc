// The tools' command lines as their users meet them: each names a bad word
// and exits 2, and each prints its help, generated from its options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/sim_harness.h"

namespace {

TEST(ToolOptions, ABadWordIsNamedAndTheHelpListsTheOptions) {
  struct Case {
    const char* program;
    std::vector<std::string> words;
    std::string err;  // how standard error begins
  };
  const Case bad[] = {
      {"velmora-trace", {"--bogus", "run.trace"}, "velmora-trace: unknown option --bogus\n"},
      {"velmora-trace", {"a.trace", "b.trace"}, "velmora-trace: one FILE only, not also b.trace\n"},
      {"velmora-trace", {}, "velmora-trace: FILE is required\n"},
      {"velmora-ports", {"--openable", "--bogus"}, "velmora-ports: unknown argument \"--bogus\"\n"},
      {"velmora-line", {"--ports", "COM1", "--bogus"},
       "velmora-line: unknown or incomplete option \"--bogus\"\n"},
      {"velmora-sim", {"--once", "--bogus"}, "velmora-sim: unknown option --bogus\n"},
  };
  for (const Case& c : bad) {
    const ProgramResult r = RunProgram(c.program, c.words, 10000);
    EXPECT_EQ(r.status, 2) << c.program;
    EXPECT_EQ(r.out, "") << c.program;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.program;
  }
  const std::pair<const char*, std::vector<const char*>> help[] = {
      {"velmora-trace", {"Usage: velmora-trace [OPTIONS] FILE\n"}},
      {"velmora-ports", {"Usage: velmora-ports [OPTIONS]\n", "--openable"}},
      {"velmora-line", {"--ports LIST", "--all-usb", "--log FILE", "--trace DIR", "--repeat",
                        "--quiet SECONDS"}},
      {"velmora-sim", {"--com N", "--once", "--fault STAGE:ACTION[:N]", "--io-log FILE"}},
  };
  for (const auto& [program, texts] : help) {
    const ProgramResult r = RunProgram(program, {"--help"}, 10000);
    EXPECT_EQ(r.status, 0) << program;
    for (const char* text : texts) EXPECT_NE(r.out.find(text), std::string::npos) << program;
  }
}

}  // namespace
