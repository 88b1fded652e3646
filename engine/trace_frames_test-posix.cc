// TraceFrames on POSIX: a long record, read in a child process that is given
// a processor time it must not need.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/trace_frames.h"

namespace {

// A record of many bytes that form no frame (200 KB in one write took
// seconds, each byte moving all those after it): read in time in proportion
// to its length, and shown whole. Two million bytes take well under a second
// so; byte by byte as before, they took many minutes, past the processor
// time the child that reads them is given.
TEST(TraceFrames, ALongRecordOfUnframedBytesIsShownWhole) {
  constexpr size_t kCount = 2000000;
  std::string record = "7 P>R 115200 " + std::to_string(kCount), hex;
  record.reserve(4 * kCount + 32);
  hex.reserve(3 * kCount);
  for (size_t i = 0; i < kCount; ++i) {
    record += " 01";
    hex += i ? " 01" : "01";
  }
  record += " |" + std::string(kCount, '.') + "|";
  const pid_t child = fork();
  if (child == 0) {
    const rlimit cpu = {60, 60};
    setrlimit(RLIMIT_CPU, &cpu);
    std::vector<std::string> out;
    TraceFrames frames([&](const std::string& line) { out.push_back(line); });
    const bool read = frames.addLine(record);
    frames.finish();
    _exit(read && out == std::vector<std::string>{"7 P>R bytes " + hex} ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the frames differ";
}

}  // namespace
