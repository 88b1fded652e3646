// fwp with VELMORA_TRACE against velmora-sim with --log: the trace holds
// exactly the bytes the simulator saw in each direction, and the port's
// open, rate changes, drains and close.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/integration/sim_harness.h"

namespace {

TEST_F(SimTest, TraceHoldsTheBytesTheSimulatorSaw) {
  const std::string simLog = dir + "/sim.log", trace = dir + "/trace.txt";
  // Firmware at 38400: the scan, the switch and the transfer at 115200.
  SimProcess sim({"--firmware-baud", "38400", "--flash-out", flashOut, "--log", simLog});
  const std::string image = SeededImage(1300, 5);
  setenv("VELMORA_TRACE", trace.c_str(), 1);
  const ProgramResult r =
      Fwp({"-uart", sim.comName(), "-almanac", WriteFile("almanac.bin", image)});
  unsetenv("VELMORA_TRACE");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{0x8000, image}}));

  const Directions fromTrace = TraceBytes(trace);
  EXPECT_GT(fromTrace.toReceiver.size(), image.size());
  ExpectTraceHoldsTheSimulatorsBytes(trace, simLog);
  EXPECT_EQ(fromTrace.events,
            (std::vector<std::string>{
                "open 115200 " + sim.comName(), "rate 115200", "drain 115200", "rate 4800",
                "rate 9600", "rate 19200", "rate 38400", "rate 57600", "rate 115200", "rate 230400",
                "rate 115200", "drain 115200", "rate 9600", "drain 9600", "rate 38400",
                "drain 38400", "rate 115200", "drain 115200", "close 115200"}));
}

// A trace file is created or emptied, never reached through a link, and
// never anything but a regular file: what cannot be written so stops the run
// before the port opens, at once (a FIFO nobody reads is not waited on).
TEST_F(SimTest, TraceThatCannotBeWrittenStopsTheRunBeforeThePortOpens) {
  SimProcess sim({"--loader", "115200", "--flash-out", flashOut});
  const std::string victim = WriteFile("victim", "precious");
  ASSERT_EQ(symlink(victim.c_str(), (dir + "/link.trace").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo.trace").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir + "/dir.trace").c_str(), 0700), 0);
  const std::pair<std::string, std::string> cases[] = {
      {dir + "/no/such/dir/trace.txt", "No such file or directory"},
      {dir + "/link.trace", "it is a symbolic link"},
      {dir + "/fifo.trace", "it is a FIFO, not a regular file"},
      {dir + "/dir.trace", "it is a directory"},
      {"/dev/full", "it is a device, not a regular file"},
  };
  for (const auto& [trace, reason] : cases) {
    SCOPED_TRACE(trace);
    setenv("VELMORA_TRACE", trace.c_str(), 1);
    const ProgramResult r =
        RunProgram("fwp", {"-uart", sim.comName(), "-app", WriteFile("app.bin", "x")}, 10000);
    unsetenv("VELMORA_TRACE");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot write the trace " + trace + ": " + reason + "\n");
  }
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({}));
}

// A trace cut short by a full disk (here the file size limit) is said on
// standard error, and the run that wrote every image ends with 0, not 2.
TEST_F(SimTest, TraceCutShortIsSaidAndFailsTheRun) {
  SimProcess sim({"--loader", "115200", "--flash-out", flashOut});
  const std::string trace = dir + "/trace.txt", image = SeededImage(20000, 3);
  const std::string app = WriteFile("app.bin", image);
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit small = {4096, saved.rlim_max};
  // Ignored, the signal stays ignored in fwp, whose write then fails with
  // EFBIG as on a full disk with ENOSPC.
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  setenv("VELMORA_TRACE", trace.c_str(), 1);
  const ProgramResult r = Fwp({"-uart", sim.comName(), "-app", app});
  unsetenv("VELMORA_TRACE");
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("APP CODE  OK!"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "cannot write the trace " + trace +
                       ": File too large\nfwp: the trace is incomplete, so the status is 0; "
                       "written: APP CODE; not written: none\n");
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{0x10000, image}}));
}

// velmora-trace refuses what is no trace with a message: a directory, and a
// line longer than any record (instead of reading it without bound).
TEST_F(SimTest, TraceReaderRefusesADirectoryAndAnEndlessLine) {
  const std::string endless = WriteFile("endless", std::string(2 * 1024 * 1024, 'A'));
  const std::pair<std::string, std::string> cases[] = {
      {dir, "velmora-trace: " + dir + " is a directory\n"},
      {endless, "velmora-trace: " + endless + ":1: a record longer than 1048576 bytes\n"},
  };
  for (const auto& [path, err] : cases) {
    const ProgramResult r = RunProgram("velmora-trace", {path}, 10000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err);
  }
}

}  // namespace

TEST_F(SimTest, TraceReadsAsTheProtocolsFrames) {
  const std::string trace = dir + "/trace.txt";
  SimProcess sim({"--loader", "115200", "--flash-out", flashOut});
  setenv("VELMORA_TRACE", trace.c_str(), 1);
  const ProgramResult r =
      Fwp({"-uart", sim.comName(), "-almanac", WriteFile("almanac.bin", SeededImage(300, 2))});
  unsetenv("VELMORA_TRACE");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(sim.stop(), 0) << sim.stderrText();

  const ProgramResult frames = RunProgram("velmora-trace", {trace});
  EXPECT_EQ(frames.status, 0) << frames.err;
  static const std::regex time("^[0-9]+ ", std::regex::multiline);
  // The scan's sync strings at the six rates below the loader's go unanswered.
  std::string scan;
  for (const char* rate : {"4800", "9600", "19200", "38400", "57600", "115200"})
    scan += std::string("rate ") + rate + "\nP>R sync\n";
  EXPECT_EQ(std::regex_replace(frames.out, time, ""),
            "open 115200 " + sim.comName() + "\nrate 115200\ndrain 115200\n" + scan +
                "R>P RX\n"
                "P>R sync\n"
                "R>P RX\n"
                "P>R header address 0x00008000 length 300 marker 0x00008000 crc 0xFCD653FF\n"
                "R>P BR 0x00008000 0x0000812B\n"
                "P>R blocks 0x00008000 count 2 bytes 300\n"
                "R>P PC 0x00008000 0x0000012C\n"
                "P>R EX\n"
                "P>R ABORT\n"
                "close 115200\n");
}
