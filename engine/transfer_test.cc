#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

#include "engine/programmer.h"
#include "engine/reply_reader.h"
#include "tests/engine_fixture.h"

namespace {

const std::string kSync = "........QV";

// The loader's CRC, bit by bit: an independent check of the table-driven one.
uint32_t ReferenceCrc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (crc & 1 ? 0xEDB88320u : 0);
  }
  return crc;
}

std::string Header(uint32_t address, uint32_t length, uint32_t marker, uint32_t crc) {
  return ".SP" + U32(address) + U32(length) + U32(marker) + U32(crc);
}
std::string Block(uint32_t address, const std::string& data) {
  return ".BT" + U32(address) + Bytes({static_cast<int>(data.size() & 0xFF)}) + data;
}
std::string Request(uint32_t start, uint32_t end) {
  return "BR" + U32(start) + U32(end);
}
std::string Passed() {
  return "PC" + U32(0) + U32(0);
}
std::string Failed() {
  return "PF" + U32(0) + U32(0);
}

// An image whose byte i is (i * 7 + seed) mod 251: no marker by chance.
std::string Pattern(size_t length, int seed = 3) {
  std::string s(length, '\0');
  for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i * 7 + seed) % 251);
  return s;
}

class TransferTest : public EngineTest {
 protected:
  TransferTest() { OpenPort(); }

  void Load(int slot, const std::string& bytes) {
    auto& s = g_imageSet.slot[slot];
    s.data.reset(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), s.data.get());
    s.length = static_cast<int32_t>(bytes.size());
  }
  std::string Written() const {
    const auto all = line.written();
    return {all.begin(), all.end()};
  }
};

TEST(ImageCrcTest, MatchesTheLoadersCheckValues) {
  const std::string digits = "123456789", abc = "abc";
  const auto* d = reinterpret_cast<const uint8_t*>(digits.data());
  const auto* a = reinterpret_cast<const uint8_t*>(abc.data());
  EXPECT_EQ(ImageCrc(d, d + 8), 0x340BC6D9u);
  EXPECT_EQ(ImageCrc(a, a + 2), 0xCADBBE3Du);
  EXPECT_EQ(ImageCrc(a + 1, a), 0xFFFFFFFFu);
  const std::string big = Pattern(5000);
  const auto* b = reinterpret_cast<const uint8_t*>(big.data());
  EXPECT_EQ(ImageCrc(b, b + big.size() - 1), ReferenceCrc(big));
}

TEST(FindMarkerTest, FindsTheFirstWholeOccurrenceWithinTheRange) {
  std::string image = Pattern(64);
  const auto* p = reinterpret_cast<const uint8_t*>(image.data());
  EXPECT_EQ(FindMarker(p, "QVRX", 0, 63), 0);
  image.replace(20, 4, "QVRX");
  image.replace(40, 4, "QVRX");
  EXPECT_EQ(FindMarker(p, "QVRX", 0, 63), 20);
  EXPECT_EQ(FindMarker(p, "QVRX", 21, 63), 40);
  EXPECT_EQ(FindMarker(p, "QVRX", 0, 22), 0);  // would end past the last offset
  EXPECT_EQ(FindMarker(p, "QVRX", 0, 23), 20);
  EXPECT_EQ(FindMarker(p, "QVRX", 30, 29), 0);
}

TEST(FindMarkerTest, RangesThatEndNearTheLargestOffsetReadNothing) {
  // No four-byte window fits between these offsets, so nothing is read: the
  // small buffer stands in for an image of the largest length.
  const uint8_t image[4] = {'Q', 'V', 'R', 'X'};
  const int top = std::numeric_limits<int32_t>::max();
  for (auto [first, last] : {std::pair{top - 3, top - 1}, {top - 2, top}, {top, top}}) {
    SCOPED_TRACE(first);
    EXPECT_EQ(FindMarker(image, "QVRX", first, last), 0);
  }
}

TEST_F(TransferTest, HeaderCarriesMarkerAddressAndCrcFromTheAppsOffset512) {
  std::string app = Pattern(1000);
  app.replace(100, 4, "QVRX");  // below 512: not looked at
  app.replace(700, 4, "QVRX");
  Load(2, app);
  peer.then(kSync, "RX");
  EXPECT_EQ(TransferImages(), 0);  // the loader stays silent after the header
  const std::string expected = Bytes({'.', 'S', 'P', 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8,
                                      0x00, 0x01, 0x02, 0xBC}) +
                               U32(ReferenceCrc(app.substr(512)));
  EXPECT_EQ(Written(), kSync + expected);
  EXPECT_EQ(console.out, "\nDevice no response!\n");
  EXPECT_EQ(now(), 8001);  // sync answered at once, then the 8000 ms wait
}

TEST_F(TransferTest, HeaderFieldsForOtherImagesAndShortOnes) {
  struct Case {
    int slot;
    std::string image;
    uint32_t marker, crc;
  } cases[] = {
      // A marker at offset 0 gives the write address, as no marker does.
      {1, "QVRX" + Pattern(60), 0x8000, ReferenceCrc("QVRX" + Pattern(60))},
      {1, Pattern(40) + "QVR", 0x8000, ReferenceCrc(Pattern(40) + "QVR")},
      {3, Pattern(10) + "QVRX", 0x8000A, ReferenceCrc(Pattern(10) + "QVRX")},
      // The App no longer than its first 512 bytes: both ranges are empty.
      {2, Pattern(512), 0x10000, 0xFFFFFFFF},
      {2, "", 0x10000, 0xFFFFFFFF},
      {0, "", 0, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    ClearReadersForTesting();
    g_imageSet.release();
    Load(c.slot, c.image);
    const size_t before = line.written().size();
    peer.then(kSync, "RX" + Passed());
    EXPECT_EQ(TransferImages(), 2);
    const auto all = line.written();
    const std::string got(all.begin() + before, all.end());
    const uint32_t address = kImageTable[c.slot].address;
    ASSERT_GE(got.size(), 29u);
    EXPECT_EQ(got.substr(10, 19),
              Header(address, static_cast<uint32_t>(c.image.size()), c.marker, c.crc));
  }
}

TEST_F(TransferTest, RequestsAreAnsweredInBlocksOfAtMost256) {
  const std::string app = Pattern(0x1000);
  Load(2, app);
  PublishFrontEnd();
  peer.then(kSync, "RX")
      .then(".SP", "")
      .then(U32(ReferenceCrc(app.substr(512))), Request(0x10000, 0x103FF))
      .then(Block(0x10300, app.substr(0x300, 256)), Request(0x10000, 0x10010))
      .then(Block(0x10000, app.substr(0, 17)), Request(0x10000, 0x10100))
      // Equal ends: no block, so the loader's next reply is already on its way.
      .then(Block(0x10000, app.substr(0, 256)), Request(0x10400, 0x10400) + Passed());
  EXPECT_EQ(TransferImages(), 2);
  std::string expected = kSync + Header(0x10000, 0x1000, 0x10000, ReferenceCrc(app.substr(512)));
  for (uint32_t a = 0; a < 0x400; a += 256) expected += Block(0x10000 + a, app.substr(a, 256));
  expected += Block(0x10000, app.substr(0, 17));
  expected += Block(0x10000, app.substr(0, 256));
  expected += "EX";
  expected += "ABORT";
  EXPECT_EQ(Written(), expected);
  using M = RecordingWindow::Message;
  EXPECT_EQ(window.messages, (std::vector<M>{{kProgressMessage, PROGRESS_SET_TOTAL, 0x1000},
                                             {kProgressMessage, PROGRESS_SET_POSITION, 0x400},
                                             {kProgressMessage, PROGRESS_SET_POSITION, 0x11},
                                             {kProgressMessage, PROGRESS_SET_POSITION, 0x100},
                                             {kProgressMessage, PROGRESS_SET_POSITION, 0x400}}));
  // Each request's start shows, then the image's last address.
  EXPECT_EQ(console.out.substr(0, 5 * 16),
            "\b\b\b\b\b\b\b\b00010000\b\b\b\b\b\b\b\b00010000\b\b\b\b\b\b\b\b00010000"
            "\b\b\b\b\b\b\b\b00010400\b\b\b\b\b\b\b\b00010FFF");
}

TEST_F(TransferTest, CompleteRunWritesSlotsInOrderThenReportsAndCloses) {
  const std::string boot = Pattern(300, 1), app = Pattern(600, 2);
  Load(2, app);
  Load(0, boot);
  peer.then(kSync, "RX")
      .then(Header(0, 300, 0, ReferenceCrc(boot)), Request(0, 299))
      .then(Block(256, boot.substr(256)), Passed())
      .then(Header(0x10000, 600, 0x10000, ReferenceCrc(app.substr(512))), Request(0x10000, 0x10257))
      .then(Block(0x10200, app.substr(512)), Passed());
  g_startTime = now() - 1234;
  EXPECT_EQ(TransferImages(), 2);
  EXPECT_EQ(peer.stepsDone(), 5u);
  // Two closing writes, then 10 ms for the loader before the port may close.
  const auto writes = line.writes();
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(std::string(writes.end()[-2].begin(), writes.end()[-2].end()), "EX");
  EXPECT_EQ(std::string(writes.back().begin(), writes.back().end()), "ABORT");
  EXPECT_EQ(now() - line.log.back().timeMs, 11);
  EXPECT_EQ(console.out,
            "\b\b\b\b\b\b\b\b00000000\b\b\b\b\b\b\b\b0000012B"
            "\b\b\b\b\b\b\b\b00010000\b\b\b\b\b\b\b\b00010257"
            "\nBOOT CODE OK!\nAPP CODE  OK!\nProgramming time : 1.23 secs\nPress any key.\n");
  EXPECT_EQ(console.keyWaits, 1);
  EXPECT_EQ(console.keyWaitOffsets.back(), console.out.size());  // after the text
}

TEST_F(TransferTest, SilentBootIsWriteProtectedAndTheRunGoesOn) {
  const std::string boot = Pattern(100), almanac = Pattern(50);
  Load(0, boot);
  Load(1, almanac);
  peer.then(kSync, "RX")
      .then(Header(0, 100, 0, ReferenceCrc(boot)), "")
      .then(Header(0x8000, 50, 0x8000, ReferenceCrc(almanac)), Passed());
  EXPECT_EQ(TransferImages(), 2);
  // The next header follows at once when the 8000 ms are up.
  const auto& log = line.log;
  int headerTimes[2], found = 0;
  for (const auto& e : log)
    if (e.kind == LineEvent::kWrite && e.bytes.size() == 3 && e.bytes[0] == '.' &&
        e.bytes[1] == 'S')
      headerTimes[found++] = e.timeMs;
  ASSERT_EQ(found, 2);
  EXPECT_EQ(headerTimes[1] - headerTimes[0], 8001);
  EXPECT_EQ(console.out.substr(0, 2 * 16), "\b\b\b\b\b\b\b\b00000063\b\b\b\b\b\b\b\b00008031");
  EXPECT_NE(console.out.find("\nBOOT CODE WriteProtect!\nALMANAC   OK!\nProgramming time : "),
            std::string::npos);
}

TEST_F(TransferTest, FailuresEndTheRunWithoutClosingFrames) {
  struct Case {
    std::string reply;
    int result;
    std::string printed;
  } cases[] = {
      {"", 0, "\nDevice no response!\n"},
      {"OK", 0, "\nWrong message!"},
      {"RX", 0, "\nWrong message!"},
      {Failed(), 3, "\nProgramming failed!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    ClearReadersForTesting();
    console.out.clear();
    Load(1, Pattern(10));
    Load(2, Pattern(10));
    ScriptedPeer fresh;
    fresh.then(kSync, "RX").then(".SP", "").then(U32(ReferenceCrc(Pattern(10))), c.reply);
    VirtualPortOpener own(fresh);
    SerialPort::install(SerialPort::open("COM1", 115200));
    EXPECT_EQ(TransferImages(), c.result);
    EXPECT_EQ(console.out, c.printed);
    const auto all = own.written();
    // The sync and the one header; nothing after it.
    EXPECT_EQ(all.size(), 10u + 19u);
  }
}

TEST_F(TransferTest, UnansweredSyncAbortsWithoutProgress) {
  Load(2, Pattern(10));
  PublishFrontEnd();
  EXPECT_EQ(TransferImages(), 0);
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += kSync;
  EXPECT_EQ(Written(), expected + "ABORT");
  EXPECT_EQ(now(), 10 * 101 + 101);
  EXPECT_TRUE(window.messages.empty());

  // A loader that answers every sync with "OK" is no better.
  ClearReadersForTesting();
  ScriptedPeer ok;
  for (int i = 0; i < 10; ++i) ok.then(kSync, "OK");
  VirtualPortOpener own(ok);
  SerialPort::install(SerialPort::open("COM1", 115200));
  EXPECT_EQ(TransferImages(), 0);
  EXPECT_EQ(ok.received(), expected + "ABORT");
}

TEST_F(TransferTest, StopBeforeTheFirstImageWritesNothingAfterTheSync) {
  Load(2, Pattern(10));
  PublishFrontEnd();
  runFlag = 0;
  peer.then(kSync, "RX");
  EXPECT_EQ(TransferImages(), 1);
  EXPECT_EQ(Written(), kSync);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].code, PROGRESS_SET_TOTAL);
}

TEST_F(TransferTest, StopInsideARequestEndsItsBlocksAndThenTheRun) {
  const std::string app = Pattern(2048), usr = Pattern(10);
  Load(2, app);
  Load(3, usr);
  PublishFrontEnd();
  peer.then(kSync, "RX")
      .then(U32(ReferenceCrc(app.substr(512))), Request(0x10000, 0x107FF))
      .then(Block(0x10100, app.substr(256, 256)), Passed());
  peer.onReceive = [&](const std::string& all) {
    if (all.size() >= 10 + 19 + 2 * 264) runFlag = 0;
  };
  EXPECT_EQ(TransferImages(), 2);
  EXPECT_EQ(Written().size(), 10u + 19u + 2 * 264u);  // no third block, no USER_DATA header
  EXPECT_EQ(window.messages.back(),
            (RecordingWindow::Message{kProgressMessage, PROGRESS_SET_POSITION, 0x200}));
  EXPECT_EQ(console.out.find("Programming time"), std::string::npos);
}

TEST_F(TransferTest, ProgressCountsEarlierImagesAndTheCurrentDistance) {
  const std::string almanac = Pattern(1000), app = Pattern(500);
  Load(1, almanac);
  Load(2, app);
  PublishFrontEnd();
  peer.then(kSync, "RX")
      .then(Header(0x8000, 1000, 0x8000, ReferenceCrc(almanac)), Passed())
      .then(".SP" + U32(0x10000) + U32(500) + U32(0x10000) + U32(0xFFFFFFFF),
            Request(0x10000, 0x101F3))
      .then(Block(0x10100, app.substr(256, 244)), Passed());
  EXPECT_EQ(TransferImages(), 2);
  using M = RecordingWindow::Message;
  EXPECT_EQ(window.messages,
            (std::vector<M>{{kProgressMessage, PROGRESS_SET_TOTAL, 1500},
                            {kProgressMessage, PROGRESS_SET_POSITION, 1000 + 500}}));
}

TEST_F(TransferTest, RequestsOutsideTheImageNeverReadPastItsBuffer) {
  const std::string odo = Pattern(10);
  // Up to 256 bytes past the last byte is answered, the excess as erased flash.
  Load(4, odo);
  peer.then(kSync, "RX")
      .then(Header(0x90000, 10, 0x90000, ReferenceCrc(odo)), Request(0x90000, 0x90009 + 256))
      .then(Block(0x90100, std::string(10, '\xFF')), Passed());
  EXPECT_EQ(TransferImages(), 2);
  const std::string w = Written();
  EXPECT_EQ(w.substr(29, 264), Block(0x90000, odo + std::string(246, '\xFF')));

  // Below the write address, or further past the end: a wrong message.
  for (const std::string& request : {Request(0x8FFFF, 0x90009), Request(0x90000, 0x9010A),
                                     Request(0x90200, 0x90000), Request(0, 0xFFFFFFFF)}) {
    ClearReadersForTesting();
    console.out.clear();
    g_imageSet.release();
    Load(4, odo);
    ScriptedPeer fresh;
    fresh.then(kSync, "RX").then(Header(0x90000, 10, 0x90000, ReferenceCrc(odo)), request);
    VirtualPortOpener own(fresh);
    SerialPort::install(SerialPort::open("COM1", 115200));
    EXPECT_EQ(TransferImages(), 0);
    EXPECT_EQ(fresh.received().size(), 29u);
    EXPECT_EQ(console.out.substr(console.out.size() - 15), "\nWrong message!");
  }
}

}  // namespace

namespace {

// A loader that never stops asking: "RX" to the sync, then, once the header
// has come, a new block request whenever the programmer is listening.
class ForeverAsking : public LinePeer {
 public:
  ForeverAsking(uint32_t start, uint32_t end) : request_(Request(start, end)) {}
  void receive(int64_t, uint32_t, const uint8_t* data, size_t count) override {
    received_.append(reinterpret_cast<const char*>(data), count);
    if (received_.size() >= 10 && !synced_) {
      synced_ = true;
      out_ = "RX";
    }
  }
  size_t transmit(int64_t, uint32_t, uint8_t* buffer, size_t count) override {
    if (out_.empty() && received_.size() >= 10 + 19) {
      out_ = request_;
      ++requests;
    }
    const size_t n = std::min(count, out_.size());
    std::copy(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    out_.erase(0, n);
    return n;
  }
  int requests = 0;

 private:
  std::string request_, received_, out_;
  bool synced_ = false;
};

// However the loader keeps asking, the image costs at most 8 times its
// length plus 64 KiB, in at most one request per 16 of those bytes, and at
// most 256 requests in a row that ask for nothing (a backwards or empty one,
// every 50 ms, would otherwise keep a run going for minutes); then the run
// ends as a wrong message.
TEST(TransferBoundTest, ALoaderThatAsksForeverIsCutOff) {
  EXPECT_EQ(MaxRequestedBytes(1000), 8 * 1000 + 65536u);
  EXPECT_EQ(MaxRequests(1000), (8 * 1000 + 65536u) / 16);
  struct Case {
    const char* name;
    uint32_t start, end;
    int requests;       // the requests the loader got to send
    size_t blockBytes;  // block bytes (frames included) sent in all
  };
  const int answered = static_cast<int>(MaxRequestedBytes(1000) / 1000);  // whole images
  const Case cases[] = {
      {"the whole image again and again", 0x10000, 0x103E7, answered + 1,
       static_cast<size_t>(answered) * (1000 + 4 * 8)},
      {"start above end", 0x10010, 0x10000, kMaxEmptyRequestsInARow, 0},
      {"start equal to end", 0x10010, 0x10010, kMaxEmptyRequestsInARow, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearReadersForTesting();
    CapturedConsole console;
    SetEngineConsole(&console);
    ForeverAsking loader(c.start, c.end);
    VirtualPortOpener line(loader);
    SerialPort::install(SerialPort::open("COM1", 115200));
    g_imageSet.slot[2].data.reset(new uint8_t[1000]());
    g_imageSet.slot[2].length = 1000;

    EXPECT_EQ(TransferImages(), 0);
    EXPECT_EQ(loader.requests, c.requests);
    EXPECT_EQ(line.written().size(), 10 + 19 + c.blockBytes);
    const std::string wrong = "\nWrong message!";
    ASSERT_GE(console.out.size(), wrong.size());
    EXPECT_EQ(console.out.substr(console.out.size() - wrong.size()), wrong);
    SetEngineConsole(nullptr);
    g_imageSet.release();
  }
}

}  // namespace
