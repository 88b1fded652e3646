#include "line/supervisor.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// What velmora-line refuses before it starts any port's process: each
// refusal ends the run with 2 and one line on standard error.
class SupervisorTest : public testing::Test {
 protected:
  SupervisorTest() {
    char pattern[] = "/tmp/velmora-supervisor-XXXXXX";
    dir_ = mkdtemp(pattern);
    app_ = dir_ + "/app.bin";
    std::ofstream(app_, std::ios::binary) << "image";
    setenv("VELMORA_PORTS", (dir_ + "/ports").c_str(), 1);
    unsetenv("VELMORA_TRACE");
  }
  ~SupervisorTest() override {
    unsetenv("VELMORA_TRACE");
    std::filesystem::remove_all(dir_);
  }

  std::string dir_, app_;
};

TEST_F(SupervisorTest, RefusesWhatCannotBeStarted) {
  struct Case {
    const char* name;
    std::string ports, traceDir, log, envTrace, image;
    std::string err, out;
  };
  const Case cases[] = {
      {"an image that is not there", "COM201", "", "", "", "/nonexistent.bin", "",
       "File \"/nonexistent.bin\" not found!\n"},
      {"a port list that does not parse", "COM202-COM201", "", "", "", app_,
       "velmora-line: \"COM202-COM201\" runs backwards\n", ""},
      {"a trace directory that is not there", "COM201", dir_ + "/none", "", "", app_,
       "velmora-line: cannot write traces in " + dir_ + "/none: No such file or directory\n", ""},
      {"one trace file for two ports", "COM201,COM202", "", "", dir_ + "/one.trace", app_,
       "velmora-line: VELMORA_TRACE names one file, which 2 ports cannot share: use --trace DIR "
       "(one file per run)\n",
       ""},
      {"a log that cannot be written", "COM201", "", dir_ + "/none/log", "", app_,
       "velmora-line: cannot write the log " + dir_ + "/none/log: No such file or directory\n", ""},
  };
  for (const Case& c : cases) {
    LineOptions o;
    o.ports = c.ports;
    o.traceDir = c.traceDir;
    o.log = c.log;
    o.programmer = {"-app", c.image};
    if (!c.envTrace.empty()) setenv("VELMORA_TRACE", c.envTrace.c_str(), 1);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunLine(o), 2) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
    unsetenv("VELMORA_TRACE");
  }
}

}  // namespace
