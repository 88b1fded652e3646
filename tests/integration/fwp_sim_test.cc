// fwp against velmora-sim on a pseudo-terminal, in real time: what fwp
// prints and returns, and what lands in the simulated flash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "serial/serial_port.h"
#include "tests/integration/sim_harness.h"
#include "tests/spawn.h"

namespace {

const std::string kBanner = "Flash Programmer V1.0.3.2\n";
const std::string kNotFound = "Device not found!\n";

struct Slot {
  const char* option;
  uint32_t address;
  const char* reportLine;
};
const Slot kSlots[13] = {
    {"-boot", 0x00000000, "\nBOOT CODE OK!"},     {"-almanac", 0x00008000, "\nALMANAC   OK!"},
    {"-app", 0x00010000, "\nAPP CODE  OK!"},      {"-usr", 0x00080000, "\nUSER_DATA CODE  OK!"},
    {"-odo", 0x00090000, "\nODO_DATA CODE  OK!"}, {"-ni", 0x000A0000, "\nNINDEX CODE  OK!"},
    {"-nd", 0x000DF490, "\nNDATA CODE  OK!"},     {"-n0i", 0x00100000, "\nN0INDEX CODE  OK!"},
    {"-n0d", 0x001021C0, "\nN0DATA CODE  OK!"},   {"-n2i", 0x00120000, "\nN2INDEX CODE  OK!"},
    {"-n2d", 0x001221C0, "\nN2DATA CODE  OK!"},   {"-n10i", 0x00180000, "\nN10INDEX CODE  OK!"},
    {"-n10d", 0x001821C0, "\nN10DATA CODE  OK!"},
};

std::string Update(uint32_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "\b\b\b\b\b\b\b\b%08X", address);
  return text;
}

// The address updates of one image that the simulated loader asks for in
// requests of 4096 bytes and then confirms.
std::string ImageUpdates(uint32_t address, size_t length) {
  std::string s;
  for (size_t offset = 0; offset < length; offset += 4096) s += Update(address + offset);
  return s + Update(address + static_cast<uint32_t>(length) - 1);
}

std::string ModeLines(int firstSlot, int rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%s mode %d bps\nAddr : 0x%08X", firstSlot == 0 ? "DSU" : "ISP",
                rate, kSlots[firstSlot].address);
  return text;
}

std::string Tail() {
  return "\nProgramming time : T secs\nPress any key.\n";
}

class FwpSimTest : public SimTest {
 protected:
  // Images by slot; writes their files and returns fwp's words for them.
  std::vector<std::string> ImageWords(const std::vector<std::pair<int, std::string>>& images) {
    std::vector<std::string> words;
    for (const auto& [slot, bytes] : images) {
      words.push_back(kSlots[slot].option);
      words.push_back(WriteFile("slot" + std::to_string(slot) + ".bin", bytes));
    }
    return words;
  }

  // The whole output of a run in which every image is confirmed.
  static std::string Complete(const std::vector<std::pair<int, std::string>>& images, int rate,
                              const std::string& before = "") {
    std::string out = kBanner + before + ModeLines(images.front().first, rate);
    std::string report;
    for (const auto& [slot, bytes] : images) {
      out += ImageUpdates(kSlots[slot].address, bytes.size());
      report += kSlots[slot].reportLine;
    }
    return out + report + Tail();
  }

  static std::vector<std::pair<uint32_t, std::string>> AtAddresses(
      const std::vector<std::pair<int, std::string>>& images) {
    std::vector<std::pair<uint32_t, std::string>> out;
    for (const auto& [slot, bytes] : images) out.emplace_back(kSlots[slot].address, bytes);
    return out;
  }

  // Stops the simulator and checks that its flash holds exactly `images`.
  void ExpectFlash(SimProcess& sim, const std::vector<std::pair<int, std::string>>& images) {
    EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
    const std::string flash = ReadFile(flashOut);
    ASSERT_EQ(flash.size(), 2u * 1024 * 1024);
    EXPECT_TRUE(flash == ExpectedFlash(AtAddresses(images))) << "flash differs";
  }

  // The programmer let go of the port: it opens again at once.
  static void ExpectPortFree(const SimProcess& sim) {
    std::string why;
    auto link = PlatformPortOpener().open(sim.devicePath().c_str(), 115200, &why);
    EXPECT_NE(link, nullptr) << why;
  }
};

// The loader already running, found at each of the seven rates.
class LoaderRate : public FwpSimTest, public ::testing::WithParamInterface<int> {};

TEST_P(LoaderRate, IsFoundAndProgramsAtItsRate) {
  const int rate = GetParam();
  SimProcess sim({"--loader", std::to_string(rate), "--flash-out", flashOut});
  const std::vector<std::pair<int, std::string>> images = {{2, SeededImage(700, 7)}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, Complete(images, rate));
  ExpectPortFree(sim);
  ExpectFlash(sim, images);
}

INSTANTIATE_TEST_SUITE_P(Rates, LoaderRate,
                         ::testing::Values(4800, 9600, 19200, 38400, 57600, 115200, 230400),
                         ::testing::PrintToStringParamName());

// Normal firmware at each sentence scan rate: found, switched, programmed.
struct SentenceCase {
  int rate;
  int programmingRate;  // -baud, or 115200 by default
};
void PrintTo(const SentenceCase& c, std::ostream* os) {
  *os << "sentences at " << c.rate << ", programming at " << c.programmingRate;
}
class SentenceRate : public FwpSimTest, public ::testing::WithParamInterface<SentenceCase> {};

TEST_P(SentenceRate, IsFoundSwitchedAndProgrammed) {
  const auto [rate, programmingRate] = GetParam();
  SimProcess sim({"--firmware-baud", std::to_string(rate), "--flash-out", flashOut});
  const std::vector<std::pair<int, std::string>> images = {{1, SeededImage(900, 3)}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  if (programmingRate != 115200)
    words.insert(words.end(), {"-baud", std::to_string(programmingRate)});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out,
            Complete(images, programmingRate, "Found GPS " + std::to_string(rate) + " bps\n"));
  ExpectFlash(sim, images);
}

INSTANTIATE_TEST_SUITE_P(Rates, SentenceRate,
                         ::testing::Values(SentenceCase{9600, 115200}, SentenceCase{38400, 115200},
                                           SentenceCase{4800, 115200}, SentenceCase{19200, 115200},
                                           SentenceCase{57600, 115200},
                                           SentenceCase{115200, 115200},
                                           SentenceCase{38400, 57600}),
                         [](const ::testing::TestParamInfo<SentenceCase>& p) {
                           return "At" + std::to_string(p.param.rate) + "To" +
                                  std::to_string(p.param.programmingRate);
                         });

TEST_F(FwpSimTest, SentencesOnlyAt230400AreNotFound) {
  SimProcess sim({"--firmware-baud", "230400", "--flash-out", flashOut});
  auto words = ImageWords({{2, "x"}});
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + kNotFound);
  ExpectPortFree(sim);
  ExpectFlash(sim, {});
}

TEST_F(FwpSimTest, ReadyReceiverWithoutImagesIsResultOne) {
  SimProcess sim({"--loader", "57600", "--no-timing"});
  const ProgramResult r = Fwp({"-uart", sim.comName()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner);
}

// Each slot alone lands at its address.
class EachSlot : public FwpSimTest, public ::testing::WithParamInterface<int> {};

TEST_P(EachSlot, LandsAtItsAddress) {
  const int slot = GetParam();
  SimProcess sim({"--loader", "115200", "--no-timing", "--flash-out", flashOut});
  const std::vector<std::pair<int, std::string>> images = {{slot, SeededImage(1500, slot + 1)}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, Complete(images, 115200));
  ExpectFlash(sim, images);
}

INSTANTIATE_TEST_SUITE_P(Slots, EachSlot, ::testing::Range(0, 13),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return std::string(kSlots[p.param].option + 1);
                         });

TEST_F(FwpSimTest, AllThirteenSlotsInOneRunLandByteForByte) {
  SimProcess sim({"--loader", "230400", "--flash-out", flashOut});
  // Each image fits below the next slot's address.
  const size_t lengths[13] = {5000, 9000, 20000, 4097, 257,  3000, 513,
                              8000, 4096, 1,     2,    8640, 12345};
  std::vector<std::pair<int, std::string>> images;
  for (int slot = 0; slot < 13; ++slot)
    images.emplace_back(slot, SeededImage(lengths[slot], 100 + slot));
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, Complete(images, 230400));
  ExpectFlash(sim, images);
}

// Image paths in any letters and of any length: the almanac in a folder
// named in Greek (with a blank), the app nested past the classic limit of
// 260 characters. Texts that hold a path are printed as before: on Windows
// in the ANSI code page (an e with an acute accent is the one byte E9).
TEST_F(FwpSimTest, ImagePathsInAnyLettersAndOfAnyLengthOpen) {
  SimProcess sim({"--loader", "115200", "--no-timing", "--flash-out", flashOut});
  const std::string greek = dir + "/\u0386\u03bd\u03bd\u03b1 \u039b\u03af\u03bc\u03b1";
  ASSERT_EQ(mkdir(greek.c_str(), 0755), 0);
  std::string deep = dir;
  for (int i = 0; deep.size() < 300; ++i) {
    deep += "/" + std::string(40, 'd') + std::to_string(i);
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  const std::vector<std::pair<int, std::string>> images = {{1, SeededImage(700, 1)},
                                                           {2, SeededImage(900, 2)}};
  const std::string almanac = greek + "/almanac.bin", app = deep + "/app.bin";
  std::ofstream(almanac, std::ios::binary) << images[0].second;
  std::ofstream(app, std::ios::binary) << images[1].second;
  const ProgramResult r = Fwp({"-uart", sim.comName(), "-almanac", almanac, "-app", app});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_EQ(r.out, Complete(images, 115200));
  ExpectFlash(sim, images);

  const ProgramResult missing = Fwp({"-app", dir + "/Caf\u00e9.bin"});
  const std::string name = dir + (FwpIsWindows() ? "/Caf\xe9.bin" : "/Caf\u00e9.bin");
  EXPECT_NE(missing.out.find("File \"" + name + "\" not found!\n"), std::string::npos)
      << missing.out;
}

// Every image length programs exactly, the awkward ones included.
class ImageLength : public FwpSimTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ImageLength, LandsExactly) {
  const size_t length = GetParam();
  SimProcess sim({"--loader", "115200", "--no-timing", "--flash-out", flashOut});
  const std::vector<std::pair<int, std::string>> images = {
      {2, SeededImage(length, static_cast<uint32_t>(length))}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, Complete(images, 115200));
  ExpectFlash(sim, images);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ImageLength,
                         ::testing::Values(0, 1, 2, 255, 256, 257, 511, 512, 513, 1000, 65537),
                         ::testing::PrintToStringParamName());

// Faults through the real programs: the exact outcome, the port free
// afterwards, and a flash that holds exactly the images the receiver
// confirmed. The engine's fault matrix covers every stage and fault on
// virtual time; these are the cases where a real terminal adds something:
// the line really going away, noise and mid-request replies at the real line
// rate, and each of the simulator's fault options end to end. A case whose
// loader falls silent costs the 8 s reply time-out.
struct FaultImage {
  int slot;
  size_t length;
  uint32_t seed;
  std::string bytes() const { return SeededImage(length, seed); }
};

struct FaultCase {
  const char* name;
  std::vector<std::string> simArgs;  // besides --flash-out
  bool loader;                       // start with the loader at 115200 (else the firmware at 9600)
  bool timing;                       // line timing on (else --no-timing)
  std::vector<FaultImage> images;
  int status;
  std::string out;
  std::vector<int> written;  // slots the receiver confirmed
  bool lineGone;             // the simulator hangs up and ends by itself
};

std::string Written(int slot, size_t length) {
  return ImageUpdates(kSlots[slot].address, length);
}

const std::string kNoResponse = "\nDevice no response!\n" + kNotFound;
const std::string kWrong = "\nWrong message!" + kNotFound;
const std::string kFailed = "\nProgramming failed!\n";

std::vector<FaultCase> FaultCases() {
  const std::string isp1 = kBanner + ModeLines(1, 115200), isp2 = kBanner + ModeLines(2, 115200);
  const std::vector<FaultImage> two = {{1, 5000, 1}, {2, 700, 2}};  // Almanac: two requests
  const std::string both =
      Written(1, 5000) + Written(2, 700) + "\nALMANAC   OK!\nAPP CODE  OK!" + Tail();
  return {
      {"WriteProtectedBoot",
       {"--boot-protected"},
       true,
       false,
       {{0, 500, 1}, {2, 800, 2}},
       2,
       kBanner + ModeLines(0, 115200) + Update(499) + Written(2, 800) +
           "\nBOOT CODE WriteProtect!\nAPP CODE  OK!" + Tail(),
       {2},
       false},
      {"FailedImageStopsTheRun",
       {"--fail-address", "0x8000"},
       true,
       false,
       {{0, 300, 1}, {1, 300, 2}, {2, 10, 3}},
       3,
       kBanner + ModeLines(0, 115200) + Written(0, 300) + Update(0x8000) + kFailed,
       {0},
       false},
      {"SilenceAfterAHeader",
       {"--silent-after-header", "2"},
       true,
       false,
       {{1, 300, 2}, {2, 10, 3}},
       0,
       isp1 + Written(1, 300) + kNoResponse,
       {1},
       false},
      {"SilenceAfterARequest",
       {"--silent-after-request", "2"},
       true,
       false,
       {{2, 9000, 3}},
       0,
       isp2 + Update(0x10000) + Update(0x11000) + kNoResponse,
       {},
       false},
      {"OkInPlaceOfARequest",
       {"--ok-instead-of-request", "1"},
       true,
       false,
       {{2, 100, 3}},
       0,
       isp2 + kWrong,
       {},
       false},
      {"FreeTextAndNoiseBetweenReplies",
       {"--free-text"},
       true,
       false,
       two,
       2,
       isp1 + both,
       {1, 2},
       false},
      {"ARequestPastTheImage",
       {"--request-outside", "beyond"},
       true,
       false,
       {{2, 1000, 4}},
       2,
       isp2 + Update(0x10000 + 1000) + Written(2, 1000) + "\nAPP CODE  OK!" + Tail(),
       {2},
       false},
      {"ARequestBelowTheImage",
       {"--request-outside", "below"},
       true,
       false,
       {{2, 1000, 4}},
       0,
       isp2 + Update(0x10000 - 16) + kWrong,
       {},
       false},
      {"AGarbledRequest",
       {"--garbled-request", "1"},
       true,
       false,
       {{2, 1000, 4}},
       0,
       isp2 + Update(0x10000 ^ 0x01A50000) + kWrong,
       {},
       false},
      {"ALostByte",
       {"--drop-every", "500"},
       true,
       false,
       {{2, 3000, 5}},
       0,
       isp2 + Update(0x10000) + kNoResponse,
       {},
       false},
      {"TheLineGoneAfterARequest",
       {"--line-gone", "1"},
       true,
       false,
       {{2, 9000, 3}},
       0,
       isp2 + Update(0x10000) + kNoResponse,
       {},
       true},
      // The line goes away at the baud switch: fwp's first sync finds the
      // terminal closed and ends the run there.
      {"TheLineGoneAtTheSwitch",
       {"--fault", "switch:gone"},
       false,
       false,
       two,
       0,
       kBanner + "Found GPS 9600 bps\n" + ModeLines(1, 115200) + kNoResponse,
       {},
       true},
      // ... while fwp is still writing a request's blocks.
      {"TheLineGoneInsideARequest",
       {"--fault", "request:gone:1"},
       true,
       false,
       two,
       0,
       isp1 + Update(0x8000) + kNoResponse,
       {},
       true},
      // ... right after an image was confirmed: that image stays written.
      {"TheLineGoneBetweenImages",
       {"--fault", "between:gone:1"},
       true,
       false,
       two,
       0,
       isp1 + Written(1, 5000) + kNoResponse,
       {1},
       true},
      // Noise at the line rate, in place of a sync's answer and after a "PC".
      {"NoiseInPlaceOfASyncAnswer",
       {"--fault", "sync:noise:2"},
       true,
       true,
       two,
       2,
       isp1 + both,
       {1, 2},
       false},
      {"NoiseBetweenImages",
       {"--fault", "between:noise:1"},
       true,
       true,
       two,
       2,
       isp1 + both,
       {1, 2},
       false},
      // The loader refuses an image while fwp is still sending its blocks.
      {"FailedInsideARequest",
       {"--fault", "request:pf:1"},
       true,
       true,
       two,
       3,
       isp1 + Update(0x8000) + kFailed,
       {},
       false},
      {"RxInPlaceOfARequest",
       {"--fault", "header:rx:2"},
       true,
       true,
       two,
       0,
       isp1 + Written(1, 5000) + kWrong,
       {1},
       false},
  };
}

// One line for the test's listing: the simulator's options, the images and
// what the case expects (fwp's output is left out).
void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << "velmora-sim";
  for (const std::string& arg : c.simArgs) *os << ' ' << arg;
  *os << (c.loader ? " --loader 115200" : "") << (c.timing ? "" : " --no-timing") << ", images";
  for (const FaultImage& image : c.images)
    *os << ' ' << kSlots[image.slot].option << ' ' << image.length;
  *os << ", exit status " << c.status << ", confirmed";
  if (c.written.empty()) *os << " none";
  for (int slot : c.written) *os << ' ' << kSlots[slot].option;
  if (c.lineGone) *os << ", line gone";
}

class FaultTest : public FwpSimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, LosesNothing) {
  const FaultCase& c = GetParam();
  std::vector<std::string> simArgs = c.simArgs;
  if (c.loader) simArgs.insert(simArgs.end(), {"--loader", "115200"});
  if (!c.timing) simArgs.push_back("--no-timing");
  simArgs.insert(simArgs.end(), {"--flash-out", flashOut});
  SimProcess sim(simArgs);
  std::vector<std::pair<int, std::string>> images;
  for (const FaultImage& image : c.images) images.emplace_back(image.slot, image.bytes());
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.out, c.out);
  std::vector<std::pair<int, std::string>> written;
  for (const auto& image : images)
    if (std::find(c.written.begin(), c.written.end(), image.first) != c.written.end())
      written.push_back(image);
  if (c.lineGone) {
    // The terminal is gone; the simulator has ended by itself.
    EXPECT_EQ(sim.wait(), 0) << sim.stderrText();
    EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash(AtAddresses(written))) << "flash differs";
  } else {
    ExpectPortFree(sim);
    ExpectFlash(sim, written);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(FaultCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& p) {
                           return std::string(p.param.name);
                         });

// Another program holding the port: fwp is refused and lets nothing go
// wrong; once the holder lets go the port works for fwp.
TEST_F(FwpSimTest, AnotherProgramHoldingThePortIsRefusedUntilItLetsGo) {
  SimProcess sim({"--loader", "115200", "--no-timing", "--flash-out", flashOut});
  const std::vector<std::pair<int, std::string>> images = {{2, SeededImage(700, 2)}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  std::string why;
  auto holder = PlatformPortOpener().open(sim.devicePath().c_str(), 115200, &why);
  ASSERT_NE(holder, nullptr) << why;
  ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, kBanner.size() + 25), kBanner + "Can not open COM200 port!");
  EXPECT_NE(r.err.find("busy"), std::string::npos) << r.err;
  holder.reset();
  r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, Complete(images, 115200));
  ExpectPortFree(sim);
  ExpectFlash(sim, images);
}

// Whose port it is. A simulator killed with SIGKILL leaves its alias behind,
// and its terminal number goes to the next terminal; a second simulator asks
// for a running one's number; a program holds the port without locking it.
// fwp reaches only the port meant, says why not otherwise, and the port
// opens again at once after the run.
// What follows "Can not open ... port!" when the port does not open.
const std::string kCannotOpenTail =
    std::string(58, '=') + "\n" +
    "KT2250[A] Flash Programmer V1.0.3.2 - Velmora; exit status 2 written, 1 ready, 3 image "
    "failed, 0 failed\n"
    "Usage :  Fwp [/? or -h or --h or -help]\n"
    "             [-uart port] [-baud baud_rate] \n"
    "             [-almanac file] [-app file]\n" +
    std::string(58, '=') + "\n" + kNotFound;

// A receiver that says nothing at all, and a port that is not there: both
// runs end in "Device not found!", with nothing written.
TEST_F(FwpSimTest, SilentLineAndMissingPortFindNoDevice) {
  {
    SimProcess sim({"--no-sentences", "--flash-out", flashOut});
    auto words = ImageWords({{2, "x"}});
    words.insert(words.begin(), {"-uart", sim.comName()});
    const ProgramResult r = Fwp(words);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + kNotFound);
    EXPECT_EQ(r.err, "");
    ExpectFlash(sim, {});
  }
  auto words = ImageWords({{2, "x"}});
  words.insert(words.begin(), {"-uart", "COM250"});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "Can not open COM250 port!\n" + kCannotOpenTail);
  EXPECT_EQ(r.err, FwpIsWindows() ? "fwp: no such port: COM250\n"
                                  : "fwp: COM250 stands for no device here (no alias COM250 in " +
                                        dir + "/ports)\n");
}

// The texts of the command line as the real program prints them: the short
// usage and its wait, the help, and errors before any port is opened.
TEST_F(SimTest, CommandLineTextsArePrintedExactly) {
  const std::string usage =
      "KT2250[A] Flash Programmer V1.0.3.2 - Velmora; exit status 2 written, 1 ready, 3 image "
      "failed, 0 failed\n"
      "Usage :  Fwp [/? or -h or --h or -help]\n"
      "             [-uart port] [-baud baud_rate] \n"
      "             [-almanac file] [-app file]\n";
  const std::string help = usage +
                           "command :\n"
                           "  /? or -h or --h or -help : this message\n"
                           "  -uart         : COM1  to COM256 (default COM1)\n"
                           "  -baud         : 9600, 19200, 38400, 57600,\n"
                           "                  115200, 230400  (default 115200bps)\n"
                           "  -almanac      : Almanac code\n"
                           "  -app          : App code\n";
  // The wait after the short usage is the command interpreter's PAUSE on
  // Windows (Wine's own wording here), its stand-in on Linux; standard input
  // is at its end, so neither waits.
  const std::string pause =
      FwpIsWindows() ? "Press any key to continue... " : "Press any key to continue . . . \n";
  const std::string missing = dir + "/missing.bin";
  const struct {
    std::vector<std::string> words;
    std::string out;
  } cases[] = {
      {{}, kBanner + usage + pause},
      {{"-h"}, kBanner + help},
      {{"/?"}, kBanner + help},
      {{"-uart", "COM257"}, kBanner + "Unknow \"COM257\" port!\n" + kCannotOpenTail},
      {{"-baud", "14400"}, kBanner + "Baud rate \"14400\" error!\n" + kCannotOpenTail},
      {{"-app", missing}, kBanner + "File \"" + missing + "\" not found!\n" + kCannotOpenTail},
  };
  for (const auto& c : cases) {
    const ProgramResult r = Fwp(c.words);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
  }
}

enum class Obstacle { kKilledSimulator, kSecondSimulator, kUnlockedHolder };

struct OwnershipCase {
  const char* name;
  Obstacle obstacle;
  int status;       // fwp's exit status
  bool programs;    // the image is written; otherwise the port does not open
  const char* err;  // fwp's standard error: @D the device, @A the alias directory, @P a pid
};

const OwnershipCase kOwnershipCases[] = {
    {"KilledSimulatorsAliasIsNotFollowed", Obstacle::kKilledSimulator, 0, false,
     "fwp: COM236 stands for no device here (the alias COM236 in @A was left by a simulator "
     "that has ended)\n"},
    {"SecondSimulatorIsRefusedAndTheFirstServes", Obstacle::kSecondSimulator, 2, true, ""},
    {"HolderWithoutLockIsNamed", Obstacle::kUnlockedHolder, 0, false,
     "fwp: @D (COM236) is busy: held by @P (sleep)\n"},
};

void PrintTo(const OwnershipCase& c, std::ostream* os) {
  *os << c.name;
}

class Ownership : public FwpSimTest, public ::testing::WithParamInterface<OwnershipCase> {
 protected:
  ~Ownership() override {
    if (holder_ > 0) {
      kill(holder_, SIGKILL);
      waitpid(holder_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
  }

  // Starts velmora-sim as COM236 and kills it with SIGKILL once it serves;
  // then opens a terminal (a pseudo-terminal, which gets the lowest free
  // number: most likely the simulator's). Returns the terminal's device.
  std::string KillSimulatorAndOpenATerminal() {
    SimLauncher sim;
    std::string why;
    EXPECT_TRUE(sim.serve({"--com", "236", "--loader", "115200"}, &why)) << why;
    sim.signal(SIGKILL);
    sim.waitExit(10000);
    EXPECT_EQ(sim.comName(), "COM236");
    terminal_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) return "";
    tcgetattr(terminal_, &terminalSettings_);
    return ptsname(terminal_);
  }

  // Starts sleep with `device` as its standard input; returns once it runs.
  void HoldWithoutLock(const std::string& device) {
    holder_ = fork();
    if (holder_ == 0) {
      const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
      if (fd < 0 || dup2(fd, 0) != 0) _exit(127);
      execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 5000 && ReadFile("/proc/" + std::to_string(holder_) + "/comm") != "sleep\n";
         ++i)
      usleep(1000);
  }

  // The terminal was left alone: nothing was sent to it, its settings are
  // as they were.
  void ExpectTerminalUntouched() {
    char byte;
    EXPECT_EQ(read(terminal_, &byte, 1), -1) << "something was sent to the terminal";
    termios now;
    ASSERT_EQ(tcgetattr(terminal_, &now), 0);
    EXPECT_EQ(now.c_lflag, terminalSettings_.c_lflag);
    EXPECT_EQ(now.c_iflag, terminalSettings_.c_iflag);
    EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&terminalSettings_));
  }

  int terminal_ = -1;
  termios terminalSettings_ = {};
  pid_t holder_ = -1;
};

TEST_P(Ownership, ReachesOnlyThePortMeant) {
  const OwnershipCase& c = GetParam();
  const std::string aliases = dir + "/ports";
  const std::vector<std::pair<int, std::string>> images = {{2, SeededImage(700, 5)}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", "COM236"});
  std::optional<SimProcess> sim;
  std::string device, pid;
  if (c.obstacle == Obstacle::kKilledSimulator) {
    device = KillSimulatorAndOpenATerminal();
    ASSERT_FALSE(device.empty());
  } else {
    sim.emplace(std::vector<std::string>{"--com", "236", "--loader", "115200", "--no-timing",
                                         "--flash-out", flashOut});
    device = sim->devicePath();
  }
  if (c.obstacle == Obstacle::kSecondSimulator) {
    std::ifstream lock(aliases + "/COM236.lock");
    std::getline(lock, pid);
    const ProgramResult second = RunProgram("velmora-sim", {"--com", "236"}, 10000);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err,
              "velmora-sim: cannot register COM236: COM236 belongs to a running "
              "simulator (process " +
                  pid + ")\n");
  }
  if (c.obstacle == Obstacle::kUnlockedHolder) {
    HoldWithoutLock(device);
    pid = std::to_string(holder_);
  }

  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, c.programs ? Complete(images, 115200)
                              : kBanner + "Can not open COM236 port!\n" + kCannotOpenTail);
  std::string err = c.err;
  for (const auto& [mark, text] : {std::pair{"@D", device}, {"@A", aliases}, {"@P", pid}})
    for (size_t at; (at = err.find(mark)) != std::string::npos;) err.replace(at, 2, text);
  EXPECT_EQ(r.err, err);

  if (holder_ > 0) {
    kill(holder_, SIGKILL);
    waitpid(holder_, nullptr, 0);
    holder_ = -1;
  }
  if (!sim) ExpectTerminalUntouched();
  std::string why;
  EXPECT_NE(PlatformPortOpener().open(device.c_str(), 115200, &why), nullptr) << why;
  if (sim) ExpectFlash(*sim, c.programs ? images : std::vector<std::pair<int, std::string>>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, Ownership, ::testing::ValuesIn(kOwnershipCases),
                         [](const ::testing::TestParamInfo<OwnershipCase>& p) {
                           return std::string(p.param.name);
                         });

// A request that takes longer on the line than the 8 s reply time-out (135168
// bytes with their framing: 11.7 s at 115200): fwp's writes wait for the line,
// as a serial port's driver makes them wait, so its reply wait starts only
// when no more than the transmit buffer and the kernel's queue (about 17 KiB,
// 1.5 s) is left to cross.
TEST_F(FwpSimTest, ARequestLongerThanTheReplyTimeOutIsWrittenAtTheLinesPace) {
  SimProcess sim({"--loader", "115200", "--request-size", "131072", "--flash-out", flashOut});
  const std::vector<std::pair<int, std::string>> images = {{2, SeededImage(131072, 12)}};
  auto words = ImageWords(images);
  words.insert(words.begin(), {"-uart", sim.comName()});
  const ProgramResult r = Fwp(words);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, kBanner + ModeLines(2, 115200) + Update(0x10000) + Update(0x2FFFF) +
                       "\nAPP CODE  OK!" + Tail());
  ExpectPortFree(sim);
  ExpectFlash(sim, images);
}

}  // namespace
