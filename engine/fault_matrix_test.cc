// The fault matrix on virtual time: the engine against the receiver model
// with one fault placed at one stage of the run, for every stage and fault
// that mean something together. Each case checks the whole console text, the
// result, the virtual time the fault costs, and that the run lost nothing:
// the port closed, every image buffer freed, and the receiver's flash holding
// exactly the images it answered "PC" for, with everything else erased.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "engine/programmer.h"
#include "sim/receiver_model.h"
#include "sim/sample_bytes.h"
#include "tests/engine_fixture.h"

namespace {

const char* const kOptions[kSlotCount] = {"-boot", "-almanac", "-app", "-usr", "-odo",
                                          "-ni",   "-nd",      "-n0i", "-n0d", "-n2i",
                                          "-n2d",  "-n10i",    "-n10d"};

// The images of a run: slot and length. The loader asks in requests of 4096
// bytes, so Almanac takes two requests, App and USER_DATA one each.
struct Image {
  int slot;
  size_t length;
};
const std::vector<Image> kThree = {{1, 5000}, {2, 700}, {3, 300}};
const std::vector<Image> kBootFirst = {{0, 300}, {2, 700}};

std::string Update(uint32_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "\b\b\b\b\b\b\b\b%08X", address);
  return text;
}

uint32_t AddressOf(int slot) {
  return kImageTable[slot].address;
}

// The address updates of the first `requests` requests of an image.
std::string Requests(int slot, size_t length, size_t requests) {
  std::string s;
  for (size_t r = 0; r < requests && r * 4096 < length; ++r)
    s += Update(AddressOf(slot) + static_cast<uint32_t>(r * 4096));
  return s;
}

// All the updates of an image confirmed with "PC".
std::string Written(int slot, size_t length) {
  return Requests(slot, length, SIZE_MAX) +
         Update(AddressOf(slot) + static_cast<uint32_t>(length) - 1);
}

const std::string kBanner = "Flash Programmer V1.0.3.2\n";
const std::string kFound = "Found GPS 9600 bps\n";
const std::string kNotFound = "Device not found!\n";
const std::string kNoResponse = "\nDevice no response!\n" + kNotFound;
const std::string kWrong = "\nWrong message!" + kNotFound;
const std::string kFailed = "\nProgramming failed!\n";
const std::string kIsp = "ISP mode 115200 bps\nAddr : 0x00008000";
const std::string kDsu = "DSU mode 115200 bps\nAddr : 0x00000000";
const std::string kTail = "\nProgramming time : T secs\nPress any key.\n";

const std::string kA = Written(1, 5000), kB = Written(2, 700), kC = Written(3, 300);
const std::string kAllThree =
    kA + kB + kC + "\nALMANAC   OK!\nAPP CODE  OK!\nUSER_DATA CODE  OK!" + kTail;

struct Case {
  const char* name;
  const char* fault;  // STAGE:ACTION:N, or "" for none
  bool firmware;      // the normal firmware at 9600 runs (else the loader at 115200)
  const std::vector<Image>* images;
  int result;
  std::string out;           // the whole console text, programming time as "T"
  std::vector<int> written;  // slots the receiver answered "PC" for
  int quietMs;               // the longest wait between two writes (or before the close)
};

// The fault costs show in the longest quiet spell on the line (every wait
// ends on the first millisecond past its time): 8001 ms for a reply time-out;
// 101 ms for a sync attempt; 202 ms after the baud switch (a 100 ms delay,
// then a 100 ms wait); and 6119 ms for a sentence scan that finds nothing
// after the last loader rate's sync (its 100 ms wait, the 10 ms settling
// wait, one empty read while the reader is reset, six rates at 1000 ms).
constexpr int kReplyTimeOut = 8001;
constexpr int kSync = 101;
constexpr int kSwitch = 202;
constexpr int kFullScan = 101 + 11 + 1 + 6 * 1001;
// A line that goes away ends the run at once: the wait that finds it gone
// ends there, so the spell is no longer than the run's others (kSync), or
// none at all when it goes before the first sync is written. After the baud
// switch the 100 ms delay still runs, and the switch sentence and the
// sentences before it (at 9600 bit/s) still arrive before the line is gone.
constexpr int kAtOnce = 0;
constexpr int kSwitchGone = 182;

// Found and switched, but the loader never answers the ten syncs.
const std::string kNoLoader = kBanner + kFound + kIsp + kNotFound;

const Case kCases[] = {
    // Baselines: nothing goes wrong.
    {"LoaderNoFault", "", false, &kThree, 2, kBanner + kIsp + kAllThree, {1, 2, 3}, kSync},
    {"FirmwareNoFault",
     "",
     true,
     &kThree,
     2,
     kBanner + kFound + kIsp + kAllThree,
     {1, 2, 3},
     kSwitch},

    // Detection: the firmware's sentences, and the baud switch.
    {"DetectSilent", "detect:silent:1", true, &kThree, 0, kBanner + kNotFound, {}, kFullScan},
    {"DetectGone", "detect:gone:1", true, &kThree, 0, kBanner + kNoResponse, {}, kAtOnce},
    {"DetectNoise", "detect:noise:1", true, &kThree, 0, kBanner + kNotFound, {}, kFullScan},
    {"SwitchSilent", "switch:silent:1", true, &kThree, 0, kNoLoader, {}, kSwitch},
    {"SwitchGone",
     "switch:gone:1",
     true,
     &kThree,
     0,
     kBanner + kFound + kIsp + kNoResponse,
     {},
     kSwitchGone},

    // Sync: the first is detection's (at 115200, the sixth rate tried), the
    // second the transfer's.
    {"DetectSyncSilent", "sync:silent:1", false, &kThree, 0, kBanner + kNotFound, {}, kFullScan},
    {"DetectSyncGone", "sync:gone:1", false, &kThree, 0, kBanner + kNoResponse, {}, kSync},
    {"DetectSyncNoise", "sync:noise:1", false, &kThree, 0, kBanner + kNotFound, {}, kFullScan},
    {"DetectSyncOk", "sync:ok:1", false, &kThree, 2, kBanner + kIsp + kAllThree, {1, 2, 3}, kSync},
    {"SyncSilent", "sync:silent:2", false, &kThree, 0, kBanner + kIsp + kNotFound, {}, kSync},
    {"SyncGone", "sync:gone:2", false, &kThree, 0, kBanner + kIsp + kNoResponse, {}, kSync},
    {"SyncOk", "sync:ok:2", false, &kThree, 2, kBanner + kIsp + kAllThree, {1, 2, 3}, kSync},
    {"SyncNoise", "sync:noise:2", false, &kThree, 2, kBanner + kIsp + kAllThree, {1, 2, 3}, kSync},

    // Headers: the first image's, and a later one's.
    {"Header1Silent",
     "header:silent:1",
     false,
     &kThree,
     0,
     kBanner + kIsp + kNoResponse,
     {},
     kReplyTimeOut},
    {"Header2Silent",
     "header:silent:2",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kNoResponse,
     {1},
     kReplyTimeOut},
    {"Header2Gone",
     "header:gone:2",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kNoResponse,
     {1},
     kSync},
    {"Header2Noise",
     "header:noise:2",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kNoResponse,
     {1},
     kReplyTimeOut},
    {"Header2Ok", "header:ok:2", false, &kThree, 0, kBanner + kIsp + kA + kWrong, {1}, kSync},
    {"Header3Rx",
     "header:rx:3",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kB + kWrong,
     {1, 2},
     kSync},
    {"Header1Pf", "header:pf:1", false, &kThree, 3, kBanner + kIsp + kFailed, {}, kSync},
    {"Header2Pf", "header:pf:2", false, &kThree, 3, kBanner + kIsp + kA + kFailed, {1}, kSync},
    // Boot's header unanswered is write protection; the run goes on. A line
    // that has gone is no write protection.
    {"BootHeaderSilent",
     "header:silent:1",
     false,
     &kBootFirst,
     0,
     kBanner + kDsu + Update(299) + kNoResponse,
     {},
     kReplyTimeOut},
    {"BootHeaderNoise",
     "header:noise:1",
     false,
     &kBootFirst,
     2,
     kBanner + kDsu + Update(299) + kB + "\nBOOT CODE WriteProtect!\nAPP CODE  OK!" + kTail,
     {2},
     kReplyTimeOut},
    {"BootHeaderGone",
     "header:gone:1",
     false,
     &kBootFirst,
     0,
     kBanner + kDsu + kNoResponse,
     {},
     kSync},

    // Inside a request, once half its bytes have come.
    {"Request1Silent",
     "request:silent:1",
     false,
     &kThree,
     0,
     kBanner + kIsp + Requests(1, 5000, 1) + kNoResponse,
     {},
     kReplyTimeOut},
    {"Request2Gone",
     "request:gone:2",
     false,
     &kThree,
     0,
     kBanner + kIsp + Requests(1, 5000, 2) + kNoResponse,
     {},
     kSync},
    {"Request1Noise",
     "request:noise:1",
     false,
     &kThree,
     0,
     kBanner + kIsp + Requests(1, 5000, 1) + kNoResponse,
     {},
     kReplyTimeOut},
    {"Request1Ok",
     "request:ok:1",
     false,
     &kThree,
     0,
     kBanner + kIsp + Requests(1, 5000, 1) + kWrong,
     {},
     kSync},
    {"Request3Rx",
     "request:rx:3",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + Requests(2, 700, 1) + kWrong,
     {1},
     kSync},
    {"Request2Pf",
     "request:pf:2",
     false,
     &kThree,
     3,
     kBanner + kIsp + Requests(1, 5000, 2) + kFailed,
     {},
     kSync},
    {"Request3Pf",
     "request:pf:3",
     false,
     &kThree,
     3,
     kBanner + kIsp + kA + Requests(2, 700, 1) + kFailed,
     {1},
     kSync},

    // Between images: right after a "PC".
    {"Between1Silent",
     "between:silent:1",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kNoResponse,
     {1},
     kReplyTimeOut},
    {"Between2Gone",
     "between:gone:2",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kB + kNoResponse,
     {1, 2},
     kSync},
    // After the last image a silence costs nothing: the closing frames need no answer.
    {"AfterLastSilent",
     "between:silent:3",
     false,
     &kThree,
     2,
     kBanner + kIsp + kAllThree,
     {1, 2, 3},
     kSync},
    {"Between1Noise",
     "between:noise:1",
     false,
     &kThree,
     2,
     kBanner + kIsp + kAllThree,
     {1, 2, 3},
     kSync},
    // A stray token right after a "PC" is read as the next header's answer.
    {"Between1Ok", "between:ok:1", false, &kThree, 0, kBanner + kIsp + kA + kWrong, {1}, kSync},
    {"Between2Rx",
     "between:rx:2",
     false,
     &kThree,
     0,
     kBanner + kIsp + kA + kB + kWrong,
     {1, 2},
     kSync},
    {"Between1Pf", "between:pf:1", false, &kThree, 3, kBanner + kIsp + kA + kFailed, {1}, kSync},
};

// One line for the test's listing: the fault, where the receiver starts, the
// images and what the case expects (the console text is left out).
void PrintTo(const Case& c, std::ostream* os) {
  *os << (*c.fault ? c.fault : "no fault")
      << (c.firmware ? ", firmware at 9600" : ", loader at 115200") << ", images";
  for (const Image& image : *c.images) *os << ' ' << kOptions[image.slot] << ' ' << image.length;
  *os << ", result " << c.result << ", confirmed";
  if (c.written.empty()) *os << " none";
  for (int slot : c.written) *os << ' ' << kOptions[slot];
  *os << ", longest quiet " << c.quietMs << " ms";
}

class FaultMatrix : public EngineTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FaultMatrix, LosesNothing) {
  const Case& c = GetParam();
  ReceiverConfig config;
  config.startInLoader = !c.firmware;
  config.firmwareBaud = 9600;
  if (*c.fault) {
    StageFault fault;
    std::string why;
    ASSERT_TRUE(ParseStageFault(c.fault, &fault, &why)) << why;
    config.faults.stages = {fault};
  }
  ReceiverModel model(config);

  std::vector<std::string> words;
  std::vector<std::string> bytes(kSlotCount);
  for (const Image& image : *c.images) {
    bytes[image.slot] = SeededImage(image.length, 10 + image.slot);
    words.push_back(kOptions[image.slot]);
    words.push_back(WriteFile(std::to_string(image.slot) + ".bin", bytes[image.slot]));
  }
  VirtualPortOpener own(model);
  const int result = Run(words);

  EXPECT_EQ(result, c.result);
  static const std::regex time("Programming time : [0-9]+\\.[0-9][0-9] secs");
  EXPECT_EQ(std::regex_replace(console.out, time, "Programming time : T secs"), c.out);

  // The port: opened once, closed at the end.
  ASSERT_FALSE(own.log.empty());
  EXPECT_EQ(std::count_if(own.log.begin(), own.log.end(),
                          [](const LineEvent& e) { return e.kind == LineEvent::kOpen; }),
            1);
  EXPECT_EQ(own.log.back().kind, LineEvent::kClose);

  // The longest quiet spell between writes, the close included.
  int quiet = 0, last = -1;
  for (const LineEvent& e : own.log) {
    if (e.kind != LineEvent::kWrite && e.kind != LineEvent::kClose) continue;
    if (last >= 0) quiet = std::max(quiet, e.timeMs - last);
    last = e.timeMs;
  }
  EXPECT_EQ(quiet, c.quietMs);

  for (int slot = 0; slot < kSlotCount; ++slot) {
    EXPECT_FALSE(g_imageSet.present(slot)) << slot;
    EXPECT_EQ(g_imageSet.slot[slot].length, 0) << slot;
  }

  // Flash holds exactly the confirmed images, and the receiver confirmed
  // exactly those.
  std::vector<uint8_t> want(ReceiverModel::kFlashSize, 0xFF);
  for (int slot : c.written)
    std::copy(bytes[slot].begin(), bytes[slot].end(), want.begin() + AddressOf(slot));
  EXPECT_TRUE(model.flash() == want) << "flash differs";
  std::vector<int> passed;
  for (const auto& image : model.images())
    if (image.passed)
      for (int slot = 0; slot < kSlotCount; ++slot)
        if (AddressOf(slot) == image.address) passed.push_back(slot);
  EXPECT_EQ(passed, c.written);
}

INSTANTIATE_TEST_SUITE_P(StagesAndFaults, FaultMatrix, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
