// fwp with VELMORA_TRACE against velmora-sim with --log: the trace holds
// exactly the bytes the simulator saw in each direction, and the port's
// open, rate changes, drains and close.
#include <gtest/gtest.h>
#include <stdlib.h>

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

TEST_F(SimTest, TraceThatCannotBeWrittenStopsTheRunBeforeThePortOpens) {
  SimProcess sim({"--loader", "115200", "--flash-out", flashOut});
  setenv("VELMORA_TRACE", (dir + "/no/such/dir/trace.txt").c_str(), 1);
  const ProgramResult r = Fwp({"-uart", sim.comName(), "-app", WriteFile("app.bin", "x")});
  unsetenv("VELMORA_TRACE");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "cannot write the trace " + dir +
                       "/no/such/dir/trace.txt: No such file or directory\n");
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({}));
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
