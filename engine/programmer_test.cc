#include "engine/programmer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <ostream>

#include "engine/detect.h"
#include "engine/progress.h"
#include "engine/reply_reader.h"
#include "sim/receiver_model.h"
#include "tests/engine_fixture.h"
#include "tests/platform_files.h"

namespace {

const std::string kBanner = "Flash Programmer V1.0.3.2\n";
const std::string kShortUsage =
    "KT2250[A] Flash Programmer V1.0.3.2 - Velmora; exit status 2 written, 1 ready, 3 image "
    "failed, 0 failed\n"
    "Usage :  Fwp [/? or -h or --h or -help]\n"
    "             [-uart port] [-baud baud_rate] \n"
    "             [-almanac file] [-app file]\n";
const std::string kFullHelp = kShortUsage +
                              "command :\n"
                              "  /? or -h or --h or -help : this message\n"
                              "  -uart         : COM1  to COM256 (default COM1)\n"
                              "  -baud         : 9600, 19200, 38400, 57600,\n"
                              "                  115200, 230400  (default 115200bps)\n"
                              "  -almanac      : Almanac code\n"
                              "  -app          : App code\n";
const std::string kRule = std::string(58, '=') + "\n";
const std::string kTail = kRule + kShortUsage + kRule + "Device not found!\n";
const std::string kSync = "........QV";

std::string Passed() {
  return "PC" + U32(0) + U32(0);
}

class ProgrammerTest : public EngineTest {
 protected:
  bool AnySlotPresent() {
    for (int i = 0; i < kSlotCount; ++i)
      if (g_imageSet.present(i)) return true;
    return false;
  }
};

TEST_F(ProgrammerTest, NoWordsShowsTheShortUsageAndPauses) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(console.out, kBanner + kShortUsage + "Press any key to continue . . . \n");
  EXPECT_EQ(console.keyWaits, 1);
  EXPECT_TRUE(line.openedNames.empty());
}

TEST_F(ProgrammerTest, EveryHelpWordShowsTheFullHelpAtOnce) {
  for (const char* help : {"-h", "--h", "-help", "--help", "/?"}) {
    SCOPED_TRACE(help);
    console.out.clear();
    // Files named before it are not loaded; faults after it are never reached.
    EXPECT_EQ(Run({"-app", dir + "/missing.bin", help, "-bogus"}), 0);
    EXPECT_EQ(console.out, kBanner + kFullHelp);
  }
  EXPECT_EQ(console.keyWaits, 0);
  EXPECT_TRUE(line.openedNames.empty());
}

TEST_F(ProgrammerTest, ArgumentErrorsPrintTheirMessageAndTheTail) {
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"help"}, "unknown \"help\" command!\n"},
      {{"-APP", "a.bin"}, "unknown \"-APP\" command!\n"},
      {{"-"}, "unknown \"-\" command!\n"},
      {{"-app"}, "App code was missing!\n"},
      {{"-app", "-boot", "b.bin"}, "App code was missing!\n"},
      {{"-n10d"}, "N10DATA code was missing!\n"},
      {{"-usr", "-x"}, "USER_DATA code was missing!\n"},
      {{"-uart"}, "COM port was missing!\n"},
      {{"-uart", "PORT3"}, "Unknown \"PORT3\" port!\n"},
      {{"-uart", "-baud", "9600"}, "Unknown \"-baud\" port!\n"},
      {{"-uart", "CO"}, "Unknown \"CO\" port!\n"},
      {{"-uart", "COM257"}, "Unknow \"COM257\" port!\n"},
      {{"-uart", "COM0"}, "Unknow \"COM0\" port!\n"},
      {{"-uart", "COM-3"}, "Unknow \"COM-3\" port!\n"},
      {{"-baud"}, ""},
      {{"-baud", "14400"}, "Baud rate \"14400\" error!\n"},
      {{"-baud", "fast"}, "Baud rate \"fast\" error!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[0] + " " + c.message);
    console.out.clear();
    EXPECT_EQ(Run(c.words), 0);
    EXPECT_EQ(console.out, kBanner + c.message + kTail);
  }
  EXPECT_TRUE(line.openedNames.empty());
  EXPECT_EQ(g_programmingBaud, 115200);
}

TEST_F(ProgrammerTest, AcceptedPortAndRateWords) {
  line.refuse = true;  // stop each run at the open, after parsing
  for (const char* port : {"com7", "COM256", "cOm1", "COM3x", "/dev/ttyS0"}) {
    EXPECT_EQ(Run({"-uart", port}), 0);
    EXPECT_EQ(line.openedNames.back(), port);
  }
  for (auto [word, rate] : {std::pair{"4800", 4800}, {"115200bps", 115200}, {"230400", 230400}}) {
    EXPECT_EQ(Run({"-baud", word}), 0);
    EXPECT_EQ(g_programmingBaud, rate);
  }
  // The last of repeated options wins.
  EXPECT_EQ(Run({"-uart", "COM2", "-uart", "COM9"}), 0);
  EXPECT_EQ(line.openedNames.back(), "COM9");
}

TEST_F(ProgrammerTest, PortThatWillNotOpenIsReportedWithItsReason) {
  line.refuse = true;
  EXPECT_EQ(Run({"-uart", "COM3x"}), 0);
  EXPECT_EQ(console.out, kBanner + "Can not open COM3x port!\n" + kTail);
  EXPECT_EQ(console.err, "no such device\n");
  EXPECT_EQ(line.openedNames, std::vector<std::string>{"COM3x"});
}

TEST_F(ProgrammerTest, FilesThatCannotBeLoadedAreReportedInSlotOrder) {
  const std::string m1 = dir + "/missing1.bin", m2 = dir + "/missing2.bin";
  EXPECT_EQ(Run({"-app", m1, "-almanac", m2}), 0);
  EXPECT_EQ(console.out, kBanner + "File \"" + m2 + "\" not found!\n" + "File \"" + m1 +
                             "\" not found!\n" + kTail);
  EXPECT_TRUE(line.openedNames.empty());
  EXPECT_FALSE(AnySlotPresent());

  // After an argument error the paths named before it are still loaded.
  console.out.clear();
  EXPECT_EQ(Run({"-app", m1, "-baud", "1234", "-boot", m2}), 0);
  EXPECT_EQ(console.out,
            kBanner + "Baud rate \"1234\" error!\n" + "File \"" + m1 + "\" not found!\n" + kTail);

  // A directory is no image.
  console.out.clear();
  EXPECT_EQ(Run({"-app", dir}), 0);
  EXPECT_EQ(console.out, kBanner + "File \"" + dir + "\" not found!\n" + kTail);
}

TEST_F(ProgrammerTest, ReadOnlyAndEmptyImagesLoadAndGoOut) {
  const std::string app = WriteFile("app.bin", "abc");
  chmod(app.c_str(), 0444);
  const std::string usr = WriteFile("usr.bin", "");
  peer.then(kSync, "RX", 4800)
      .then(kSync, "RX")
      .then(".SP" + U32(0x10000) + U32(3) + U32(0x10000) + U32(0xFFFFFFFF),
            "BR" + U32(0x10000) + U32(0x10002))
      .then(".BT" + U32(0x10000) + Bytes({3}) + "abc", Passed())
      .then(".SP" + U32(0x80000) + U32(0) + U32(0x80000) + U32(0xFFFFFFFF), Passed());
  EXPECT_EQ(Run({"-app", app, "-usr", usr}), 2);
  EXPECT_EQ(peer.stepsDone(), 5u);
  EXPECT_EQ(console.out, kBanner + "ISP mode 4800 bps\nAddr : 0x00010000" +
                             "\b\b\b\b\b\b\b\b00010000\b\b\b\b\b\b\b\b00010002"
                             "\b\b\b\b\b\b\b\b0007FFFF"
                             "\nAPP CODE  OK!\nUSER_DATA CODE  OK!\nProgramming time : 0.01 secs\n"
                             "Press any key.\n");
  EXPECT_FALSE(AnySlotPresent());
  EXPECT_EQ(line.log.back().kind, LineEvent::kClose);
}

TEST_F(ProgrammerTest, ProgrammingTimeIsRightWhenTheClockWrapsDuringTheRun) {
  const std::string boot = WriteFile("boot.bin", "B");
  // 16 ms into the run the clock turns negative, or goes from -1 to 0.
  for (uint32_t startMs : {0u, 0x7FFFFFF0u, 0xFFFFFFF0u}) {
    SCOPED_TRACE(startMs);
    ClearReadersForTesting();
    console.out.clear();
    ScriptedPeer receiver;
    receiver.then(kSync, "RX", 4800).then(kSync, "RX");  // then silence: Boot write-protected
    VirtualPortOpener own(receiver);
    own.clock.advance(static_cast<int32_t>(startMs));
    EXPECT_EQ(Run({"-boot", boot}), 2);
    EXPECT_EQ(console.out, kBanner +
                               "DSU mode 4800 bps\nAddr : 0x00000000\b\b\b\b\b\b\b\b00000000"
                               "\nBOOT CODE WriteProtect!\nProgramming time : 8.01 secs\n"
                               "Press any key.\n");
  }
}

TEST_F(ProgrammerTest, BootFirstMakesTheDsuModeAndTheLastPathWins) {
  const std::string first = WriteFile("first.bin", "1111"), second = WriteFile("second.bin", "22");
  const std::string boot = WriteFile("boot.bin", "B");
  // Silence after the sync: enough to see the mode and address lines.
  peer.then(kSync, "RX", 115200).then(kSync, "RX");
  EXPECT_EQ(Run({"-app", first, "-app", second, "-boot", boot}), 0);
  EXPECT_EQ(console.out.substr(0, kBanner.size() + 37),
            kBanner + "DSU mode 115200 bps\nAddr : 0x00000000");
  // Boot's silence is write protection; the App's silence ends the run.
  const std::string w = peer.received();
  EXPECT_NE(w.find(".SP" + U32(0x10000) + U32(2)), std::string::npos);
  const std::string end = "\b\b\b\b\b\b\b\b00000000\nDevice no response!\nDevice not found!\n";
  ASSERT_GE(console.out.size(), end.size());
  EXPECT_EQ(console.out.substr(console.out.size() - end.size()), end);
  // The path given first is not used silently.
  EXPECT_EQ(console.err, "-app given twice: " + second + " replaces " + first + "\n");
}

TEST_F(ProgrammerTest, ReceiverReadyWithoutImagesEndsWithOne) {
  peer.then(kSync, "RX", 9600);
  EXPECT_EQ(Run({"-uart", "COM3"}), 1);
  EXPECT_EQ(console.out, kBanner);
  EXPECT_EQ(peer.received(), kSync + kSync);  // at 4800, then at 9600
  EXPECT_EQ(g_programmingBaud, 9600);         // and it stays for the next run
  EXPECT_EQ(line.log.back().kind, LineEvent::kClose);
}

TEST_F(ProgrammerTest, NoReceiverIsDeviceNotFound) {
  const std::string app = WriteFile("app.bin", "x");
  EXPECT_EQ(Run({"-app", app}), 0);
  EXPECT_EQ(console.out, kBanner + "Device not found!\n");
  EXPECT_EQ(now(), 6737);
  EXPECT_FALSE(AnySlotPresent());
  EXPECT_EQ(line.log.back().kind, LineEvent::kClose);
}

TEST_F(ProgrammerTest, ASecondRunStartsWithEverySlotEmpty) {
  const std::string app = WriteFile("app.bin", "abc");
  peer.then(kSync, "RX", 4800);  // found at once, then nothing answers the sync
  EXPECT_EQ(Run({"-app", app}), 0);
  EXPECT_EQ(console.out.substr(console.out.size() - 18), "Device not found!\n");
  EXPECT_FALSE(AnySlotPresent());

  ClearReadersForTesting();
  console.out.clear();
  ScriptedPeer again;
  again.then(kSync, "RX");
  VirtualPortOpener own(again);
  EXPECT_EQ(Run({"-baud", "4800"}), 1);
  EXPECT_EQ(again.received(), kSync);  // no header: the earlier App is gone
}

}  // namespace

namespace {

// Forwards everything to the receiver and sets the abort flag once the
// programmer has written `after` bytes, as a Ctrl-C at that moment would.
class AbortingPeer : public LinePeer {
 public:
  AbortingPeer(LinePeer& receiver, size_t after, std::atomic<int>& flag)
      : receiver_(receiver), after_(after), flag_(flag) {}
  void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) override {
    receiver_.receive(nowMs, baud, data, count);
    written_ += count;
    if (written_ >= after_ && flag_.exchange(1) == 0) abortedAtMs = nowMs;
  }
  size_t transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) override {
    return receiver_.transmit(nowMs, baud, buffer, count);
  }
  int64_t abortedAtMs = -1;

 private:
  LinePeer& receiver_;
  size_t after_;
  std::atomic<int>& flag_;
  size_t written_ = 0;
};

// An abort (the console's Ctrl-C) ends the run at once wherever it comes:
// nothing more is written or printed, the port is closed, the images are
// released, and the run record names what was written.
struct AbortCase {
  const char* name;
  bool silent;        // nothing answers (else the loader runs at 115200)
  size_t abortAfter;  // abort once this many bytes have been written
  size_t written;     // bytes written in all
  std::string out;    // after the banner
  int result;
  const char* images;  // DescribeImagesWritten()
};

void PrintTo(const AbortCase& c, std::ostream* os) {
  *os << c.name;
}

std::string AddressUpdate(uint32_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "\b\b\b\b\b\b\b\b%08X", address);
  return text;
}

// Almanac (1000 bytes, one request) and App (2048 bytes: one request of 8
// blocks, 264 bytes each on the line).
const std::string kIsp = "ISP mode 115200 bps\nAddr : 0x00008000";
const size_t kSyncs = 6 * 10, kSyncAndHeader = 10 + 19, kAlmanac = 1000 + 4 * 8;
const AbortCase kAbortCases[] = {
    // During detection: the third sync string is the last thing sent.
    {"DuringDetection", true, 30, 30, "", 0, "written: none; not written: ALMANAC, APP CODE"},
    // Inside App's request: its third block is not sent.
    {"InsideARequest", false, kSyncs + kSyncAndHeader + kAlmanac + 19 + 2 * 264,
     kSyncs + kSyncAndHeader + kAlmanac + 19 + 2 * 264,
     kIsp + AddressUpdate(0x8000) + AddressUpdate(0x8000 + 999) + AddressUpdate(0x10000), 1,
     "written: ALMANAC; not written: APP CODE"},
    // Right after App's header: Almanac was confirmed, App waits for nothing.
    {"BetweenImages", false, kSyncs + kSyncAndHeader + kAlmanac + 19,
     kSyncs + kSyncAndHeader + kAlmanac + 19,
     kIsp + AddressUpdate(0x8000) + AddressUpdate(0x8000 + 999), 1,
     "written: ALMANAC; not written: APP CODE"},
};

class AbortTest : public ProgrammerTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortTest, EndsTheRunAtOnce) {
  const AbortCase& c = GetParam();
  ReceiverConfig config;
  config.startInLoader = !c.silent;
  config.emitSentences = false;
  ReceiverModel model(config);
  std::atomic<int> abortFlag{0};
  RunHooks hooks;
  hooks.abortFlag = &abortFlag;
  AbortingPeer aborting(model, c.abortAfter, abortFlag);
  VirtualPortOpener own(aborting);

  const int result = Run({"-almanac", WriteFile("almanac.bin", std::string(1000, 'a')), "-app",
                          WriteFile("app.bin", std::string(2048, 'b'))},
                         &hooks);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(console.out, kBanner + c.out);
  EXPECT_TRUE(hooks.record.aborted);
  EXPECT_EQ(DescribeImagesWritten(hooks.record), c.images);
  EXPECT_FALSE(RunAborted()) << "the run's hooks outlived it";
  EXPECT_EQ(own.written().size(), c.written);
  // Ended within the millisecond of the abort, the port closed last.
  ASSERT_FALSE(own.log.empty());
  EXPECT_EQ(own.log.back().kind, LineEvent::kClose);
  EXPECT_LE(own.log.back().timeMs - aborting.abortedAtMs, 1);
  EXPECT_FALSE(AnySlotPresent());
}

INSTANTIATE_TEST_SUITE_P(Moments, AbortTest, ::testing::ValuesIn(kAbortCases),
                         [](const ::testing::TestParamInfo<AbortCase>& p) {
                           return std::string(p.param.name);
                         });

// What is no image file: devices, a FIFO or pipe without a writer (which
// must not hang the run), a file whose length says nothing of its contents.
// None is sent, and the run ends at once.
TEST_F(ProgrammerTest, OnlyARegularFileReadWholeIsAnImage) {
  const NonImageFiles others(dir);
  for (const std::string& path : others.paths()) {
    console.out.clear();
    EXPECT_EQ(Run({"-app", path}), 0) << path;
    EXPECT_EQ(console.out, kBanner + "File \"" + path + "\" can not be read!\n" + kTail);
    EXPECT_TRUE(line.openedNames.empty());
    EXPECT_FALSE(AnySlotPresent());
  }
}

}  // namespace
