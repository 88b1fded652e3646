#include "sim/receiver_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Reply {
  std::string token;
  uint32_t first = 0, second = 0;
};

void PutBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The programmer's side, written from the protocol rules: frames out, reply
// tokens in (two letters anywhere, eight bytes after BR/PC/PF).
class Programmer {
 public:
  Programmer(ReceiverModel& rx, uint32_t rate) : baud(rate), rx_(rx) {}

  void write(const Bytes& b) { rx_.receive(now, baud, b.data(), b.size()); }
  void write(const std::string& s) { write(Bytes(s.begin(), s.end())); }

  Bytes read() {
    Bytes all;
    uint8_t buf[64];
    while (size_t n = rx_.transmit(now, baud, buf, sizeof buf)) all.insert(all.end(), buf, buf + n);
    return all;
  }

  std::vector<Reply> replies() {
    std::vector<Reply> out;
    for (uint8_t b : read()) {
      if (pending_ == 0 && b >= 0x80) ++noiseBytes;
      if (pending_ > 0) {
        (pending_ > 4 ? current_.first : current_.second) =
            (pending_ > 4 ? current_.first : current_.second) << 8 | b;
        if (--pending_ == 0) out.push_back(current_);
        continue;
      }
      const std::string pair{prev_, static_cast<char>(b)};
      prev_ = static_cast<char>(b);
      for (const char* t : {"RX", "OK", "BR", "PC", "PF", "FT"}) {
        if (pair != t) continue;
        prev_ = 0;
        current_ = {t};
        if (pair == "RX" || pair == "OK") out.push_back(current_);
        if (pair == "BR" || pair == "PC" || pair == "PF") pending_ = 8;
      }
    }
    return out;
  }

  bool sync() {
    write("........QV");
    auto r = replies();
    return r.size() == 1 && r[0].token == "RX";
  }

  void header(uint32_t address, uint32_t length, uint32_t crc) {
    Bytes h{'.', 'S', 'P'};
    PutBe32(h, address);
    PutBe32(h, length);
    PutBe32(h, address);
    PutBe32(h, crc);
    write(h);
  }

  // Answers one request by the programmer's block rule; addresses outside the
  // image are sent as 0xFF.
  void answer(const Reply& br, uint32_t address, const Bytes& image) {
    ++requests;
    for (uint32_t a = br.first; a < br.second;) {
      const uint32_t n = std::min<uint32_t>(br.second - a + 1, 256);
      Bytes blk{'.', 'B', 'T'};
      PutBe32(blk, a);
      blk.push_back(static_cast<uint8_t>(n));
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t off = a + i - address;
        blk.push_back(a + i >= address && off < image.size() ? image[off] : 0xFF);
      }
      if (byteByByte) {
        for (uint8_t b : blk) write(Bytes{b});
      } else {
        write(blk);
      }
      a += n;
    }
  }

  // Header, then requests answered until a reply other than BR (or none).
  std::string program(uint32_t address, const Bytes& image, uint32_t crc) {
    header(address, static_cast<uint32_t>(image.size()), crc);
    for (;;) {
      auto r = replies();
      if (r.empty()) return "";
      for (size_t i = 0; i + 1 < r.size(); ++i)
        if (r[i].token != "FT") return "extra " + r[i].token;
      if (r.back().token != "BR") return r.back().token;
      spans.push_back({r.back().first, r.back().second});
      answer(r.back(), address, image);
    }
  }

  int64_t now = 0;
  uint32_t baud;
  bool byteByByte = false;
  int requests = 0;
  size_t noiseBytes = 0;  // bytes 0x80..0xFF outside a reply's eight
  std::vector<std::pair<uint32_t, uint32_t>> spans;

 private:
  ReceiverModel& rx_;
  char prev_ = 0;
  int pending_ = 0;
  Reply current_;
};

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 8)) ^ seed);
  return b;
}

uint32_t Crc(const Bytes& b, size_t from = 0) {
  return from >= b.size() ? 0xFFFFFFFFu : ReceiverModel::ImageCrc(b.data() + from, b.size() - from);
}

ReceiverConfig Loader(uint32_t baud = 115200) {
  ReceiverConfig c;
  c.startInLoader = true;
  c.loaderBaud = baud;
  return c;
}

// Flash holds `image` at `address` and is erased just around it.
void ExpectLanded(const ReceiverModel& rx, uint32_t address, const Bytes& image) {
  const auto& f = rx.flash();
  ASSERT_EQ(f.size(), ReceiverModel::kFlashSize);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), f.begin() + address));
  if (address > 0) {
    EXPECT_EQ(f[address - 1], 0xFF);
  }
  EXPECT_EQ(f[address + image.size()], 0xFF);
}

TEST(ImageCrc, CheckValues) {
  EXPECT_EQ(ReceiverModel::ImageCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x340BC6D9u);
  EXPECT_EQ(ReceiverModel::ImageCrc(reinterpret_cast<const uint8_t*>("abc"), 3), 0xCADBBE3Du);
  EXPECT_EQ(ReceiverModel::ImageCrc(nullptr, 0), 0xFFFFFFFFu);
}

TEST(Loader, AnswersSyncOnlyAtItsRate) {
  ReceiverModel rx(Loader(57600));
  Programmer p(rx, 9600);
  EXPECT_FALSE(p.sync());
  p.baud = 57600;
  EXPECT_TRUE(p.sync());
  p.write("..............QV");  // extra leading dots
  EXPECT_EQ(p.replies().size(), 1u);
  p.write(".......QV");  // one dot short
  EXPECT_TRUE(p.replies().empty());
  for (char c : std::string("........QV")) p.write(std::string(1, c));
  EXPECT_EQ(p.replies().size(), 1u);
  EXPECT_EQ(rx.syncCount(), 3);
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kLoader);
}

TEST(Firmware, SentencesAreValidNmeaSeveralPerSecond) {
  ReceiverModel rx;
  Programmer p(rx, 9600);
  std::string text;
  for (p.now = 0; p.now <= 1000; ++p.now)
    for (uint8_t b : p.read()) text += static_cast<char>(b);
  std::vector<std::string> kinds;
  size_t pos = 0;
  while ((pos = text.find('$', pos)) != std::string::npos) {
    const size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string s = text.substr(pos, end - pos);
    ASSERT_GE(s.size(), 10u);
    ASSERT_EQ(s[s.size() - 3], '*') << s;
    uint8_t sum = 0;
    for (size_t i = 1; i + 3 < s.size(); ++i) sum ^= static_cast<uint8_t>(s[i]);
    EXPECT_EQ(std::stoul(s.substr(s.size() - 2), nullptr, 16), sum) << s;
    kinds.push_back(s.substr(3, 3));
    pos = end;
  }
  ASSERT_GE(kinds.size(), 4u);
  EXPECT_EQ(kinds[0], "GGA");
  EXPECT_EQ(kinds[1], "RMC");
  EXPECT_EQ(kinds[2], "GSA");
  EXPECT_EQ(kinds[3], "GSV");
  // No reply token hides in the sentences.
  ReceiverModel again;
  Programmer q(again, 9600);
  for (q.now = 0; q.now <= 1000; ++q.now) EXPECT_TRUE(q.replies().empty());
}

TEST(Firmware, SentencesAtAnotherRateAreNoiseOrLostTheSameWayForASeed) {
  auto listen = [](uint32_t seed) {
    ReceiverConfig c;
    c.seed = seed;
    ReceiverModel rx(c);
    Programmer p(rx, 38400);
    Bytes got;
    for (p.now = 0; p.now <= 1000; ++p.now)
      for (uint8_t b : p.read()) got.push_back(b);
    size_t lost = 0;
    for (const auto& e : rx.transcript())
      lost += e.fate == ReceiverModel::TranscriptEntry::Fate::kLost;
    EXPECT_GT(lost, 0u);
    EXPECT_EQ(got.size() + lost, rx.transcript().size());
    return got;
  };
  const Bytes noise = listen(7);
  ASSERT_FALSE(noise.empty());
  for (uint8_t b : noise) EXPECT_GE(b, 0x80);
  EXPECT_EQ(listen(7), noise);
  EXPECT_NE(listen(8), noise);
}

TEST(Firmware, SwitchSentenceStartsLoaderAtNewRate) {
  ReceiverModel rx;
  Programmer p(rx, 38400);
  const std::string sw = "\r\n\r\n$PQVRX601,57600*00\r\n";
  p.write(sw);  // wrong rate: not taken
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kFirmware);
  p.baud = 9600;
  p.write(sw);
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kLoader);
  EXPECT_EQ(rx.loaderBaud(), 57600u);
  EXPECT_EQ(rx.baudSwitches(), std::vector<uint32_t>{57600});
  p.read();
  p.now = 2000;
  EXPECT_TRUE(p.read().empty());  // sentences have stopped
  p.baud = 57600;
  EXPECT_TRUE(p.sync());
}

TEST(Transfer, EveryLengthLandsExactly) {
  for (uint32_t len : {0u, 1u, 2u, 255u, 256u, 257u, 513u, 65537u}) {
    SCOPED_TRACE(len);
    ReceiverModel rx(Loader());
    Programmer p(rx, 115200);
    ASSERT_TRUE(p.sync());
    const Bytes image = Pattern(len, len);
    EXPECT_EQ(p.program(0x8000, image, Crc(image)), "PC");
    ExpectLanded(rx, 0x8000, image);
    ASSERT_EQ(rx.images().size(), 1u);
    EXPECT_TRUE(rx.images()[0].passed);
    EXPECT_EQ(p.requests, static_cast<int>((len + 4095) / 4096));
  }
}

TEST(Transfer, RequestsAreChunkedAndWidenedWhereTheRuleWouldStopShort) {
  ReceiverConfig c = Loader();
  c.requestSize = 257;
  ReceiverModel rx(c);
  Programmer p(rx, 115200);
  p.byteByByte = true;  // write boundaries carry no meaning
  ASSERT_TRUE(p.sync());
  const Bytes image = Pattern(1000, 3);
  EXPECT_EQ(p.program(0x40000, image, Crc(image)), "PC");
  ExpectLanded(rx, 0x40000, image);
  const std::vector<std::pair<uint32_t, uint32_t>> want{
      {0x40000, 0x40101}, {0x40101, 0x40202}, {0x40202, 0x40303}, {0x40303, 0x403E7}};
  EXPECT_EQ(p.spans, want);
}

TEST(Transfer, AppCrcStartsAt512AndFailureLeavesFlashErased) {
  const Bytes image = Pattern(1000, 9);
  {
    ReceiverModel rx(Loader());
    Programmer p(rx, 115200);
    ASSERT_TRUE(p.sync());
    EXPECT_EQ(p.program(0x10000, image, Crc(image, 512)), "PC");
    ExpectLanded(rx, 0x10000, image);
  }
  ReceiverModel rx(Loader());
  Programmer p(rx, 115200);
  ASSERT_TRUE(p.sync());
  EXPECT_EQ(p.program(0x10000, image, Crc(image)), "PF");
  EXPECT_TRUE(rx.images()[0].failed);
  EXPECT_EQ(rx.flash()[0x10000], 0xFF);
  // The loader takes the next header after a failure.
  EXPECT_EQ(p.program(0x8000, image, Crc(image)), "PC");
}

TEST(Loader, AbortNeedsNewSyncAndExEndsProgramming) {
  ReceiverModel rx(Loader());
  Programmer p(rx, 115200);
  ASSERT_TRUE(p.sync());
  p.write("ABORT");
  EXPECT_EQ(rx.abortCount(), 1);
  const Bytes image = Pattern(10, 1);
  EXPECT_EQ(p.program(0x8000, image, Crc(image)), "");  // no sync: header ignored
  ASSERT_TRUE(p.sync());
  EXPECT_EQ(p.program(0x8000, image, Crc(image)), "PC");
  p.write("EX");
  p.write("ABORT");
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kDone);
  EXPECT_EQ(rx.exCount(), 1);
  EXPECT_EQ(rx.abortCount(), 2);
  EXPECT_FALSE(p.sync());
}

TEST(Loader, RebootKeepsFlashAndRunsTheFirmwareAgain) {
  ReceiverConfig c = Loader();
  c.sentencePeriodMs = 50;
  ReceiverModel rx(c);
  Programmer p(rx, 115200);
  ASSERT_TRUE(p.sync());
  const Bytes image = Pattern(40, 3);
  EXPECT_EQ(p.program(0x8000, image, Crc(image)), "PC");
  p.write("EX");
  p.header(0x9000, 4, 0);  // after EX: neither taken nor still on the line after the reboot
  p.now = 10;
  rx.reboot();
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kFirmware);
  EXPECT_EQ(rx.loaderBaud(), 0u);
  ExpectLanded(rx, 0x8000, image);
  EXPECT_EQ(rx.images().size(), 1u);
  p.baud = 9600;
  p.read();  // the programmer's rate from here on
  p.now = 200;
  const Bytes out = p.read();
  EXPECT_EQ(std::string(out.begin(), out.begin() + 3), "$GP");
  p.write("$PQVRX601,115200*00\r\n");
  p.baud = 115200;
  p.now = 300;
  p.read();
  EXPECT_TRUE(p.sync());
}

// A receiver restarts by itself once its loader ends, whoever holds the port:
// nothing until the restart time, then the firmware's sentences at its own
// rate and a loader that needs the switch again; the flash stays.
TEST(Loader, RestartsIntoTheFirmwareAfterExWithoutAReboot) {
  ReceiverConfig c = Loader();
  c.restartAfterExMs = 500;
  c.sentencePeriodMs = 100;
  ReceiverModel rx(c);
  Programmer p(rx, 115200);
  ASSERT_TRUE(p.sync());
  const Bytes image = Pattern(40, 3);
  EXPECT_EQ(p.program(0x8000, image, Crc(image)), "PC");
  p.write("EX");
  p.now = 499;
  EXPECT_FALSE(p.sync());
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kDone);
  p.baud = 9600;
  p.read();
  p.now = 500;
  p.read();
  EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kFirmware);
  p.now = 700;
  const Bytes out = p.read();
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 3), "$GP");
  ExpectLanded(rx, 0x8000, image);
  p.write("$PQVRX601,115200*00\r\n");
  p.baud = 115200;
  p.now = 800;
  p.read();
  EXPECT_TRUE(p.sync());
  EXPECT_EQ(rx.baudSwitches(), std::vector<uint32_t>{115200});
}

// A block cut off in the middle (the programmer's adapter pulled out) holds
// the loader until its frame time-out; after it the next sync is answered.
// Without the time-out the sync's bytes are taken as the block's data.
TEST(Loader, FrameCutOffIsGivenUpAfterTheFrameTimeout) {
  for (const int timeoutMs : {0, 1000}) {
    ReceiverConfig c = Loader();
    c.frameTimeoutMs = timeoutMs;
    ReceiverModel rx(c);
    Programmer p(rx, 115200);
    ASSERT_TRUE(p.sync());
    const Bytes image = Pattern(600, 4);
    p.header(0x8000, static_cast<uint32_t>(image.size()), Crc(image));
    ASSERT_EQ(p.replies().size(), 1u);
    Bytes half{'.', 'B', 'T', 0x00, 0x00, 0x80, 0x00, 0x00};
    half.insert(half.end(), image.begin(), image.begin() + 100);
    p.write(half);
    p.now = 999;
    EXPECT_FALSE(p.sync()) << timeoutMs;
    p.now = 3000;
    EXPECT_EQ(p.sync(), timeoutMs > 0) << timeoutMs;
  }
}

TEST(LineTiming, BytesTakeTenBitTimes) {
  ReceiverConfig c = Loader(9600);
  c.lineTiming = true;
  ReceiverModel rx(c);
  Programmer p(rx, 9600);
  p.write("........QV");  // arrives at 10.4 ms; R back at 11.5 ms, X at 12.5 ms
  p.now = 11;
  EXPECT_TRUE(p.read().empty());
  p.now = 12;
  EXPECT_EQ(p.read(), Bytes{'R'});
  p.now = 13;
  EXPECT_EQ(p.read(), Bytes{'X'});
}

TEST(Faults, BootWriteProtectedThenNextImage) {
  ReceiverConfig c = Loader();
  c.faults.bootWriteProtected = true;
  ReceiverModel rx(c);
  Programmer p(rx, 115200);
  ASSERT_TRUE(p.sync());
  const Bytes image = Pattern(300, 2);
  EXPECT_EQ(p.program(0, image, Crc(image)), "");
  EXPECT_EQ(rx.flash()[0], 0xFF);
  EXPECT_EQ(p.program(0x8000, image, Crc(image)), "PC");
  ASSERT_EQ(rx.images().size(), 2u);
  EXPECT_FALSE(rx.images()[0].passed || rx.images()[0].failed);
}

TEST(Faults, RepliesAndSilences) {
  const Bytes image = Pattern(9000, 5);  // three requests
  struct Outcome {
    std::string reply;
    int requests;
    bool lineGone;
  };
  auto run = [&](Faults f) {
    ReceiverConfig c = Loader();
    c.faults = f;
    ReceiverModel rx(c);
    Programmer p(rx, 115200);
    EXPECT_TRUE(p.sync());
    const std::string r = p.program(0x8000, image, Crc(image));
    return Outcome{r, p.requests, rx.lineGone()};
  };
  Faults f;
  f.failSlotAddress = 0x8000;
  EXPECT_EQ(run(f).reply, "PF");
  f = {};
  f.okInsteadOfRequest = 2;
  EXPECT_EQ(run(f).reply, "OK");
  f = {};
  f.silentAfterHeader = 1;
  EXPECT_EQ(run(f).reply, "");
  f = {};
  f.silentAfterRequest = 2;
  Outcome o = run(f);
  EXPECT_EQ(o.reply, "");
  EXPECT_EQ(o.requests, 2);
  f = {};
  f.lineGone = 1;
  o = run(f);
  EXPECT_EQ(o.reply, "");
  EXPECT_TRUE(o.lineGone);
  f = {};
  f.freeTextBetweenReplies = true;
  EXPECT_EQ(run(f).reply, "PC");
  f = {};
  f.dropEveryNthByte = 1000;  // a block comes up short: the loader waits
  EXPECT_EQ(run(f).reply, "");
}

TEST(Faults, RequestsOutsideOrGarbled) {
  const Bytes image = Pattern(600, 4);
  auto spans = [&](Faults f) {
    ReceiverConfig c = Loader();
    c.faults = f;
    ReceiverModel rx(c);
    Programmer p(rx, 115200);
    EXPECT_TRUE(p.sync());
    const std::string r = p.program(0x8000, image, Crc(image));
    return std::make_pair(r, p.spans);
  };
  Faults f;
  f.requestOutsideImage = Faults::Outside::kBeyondEnd;
  auto [r1, s1] = spans(f);
  EXPECT_EQ(r1, "PC");  // the programmer answered it with 0xFF; the image still lands
  ASSERT_EQ(s1.size(), 2u);
  EXPECT_EQ(s1[0], std::make_pair(0x8000u + 600, 0x8000u + 615));
  f.requestOutsideImage = Faults::Outside::kBelowStart;
  EXPECT_EQ(spans(f).second[0], std::make_pair(0x8000u - 16, 0x8000u - 1));
  f = {};
  f.garbledRequest = 1;
  auto [r3, s3] = spans(f);
  EXPECT_EQ(r3, "");  // the needed bytes never came
  ASSERT_EQ(s3.size(), 1u);
  EXPECT_NE(s3[0].first, 0x8000u);
}

StageFault Fault(const std::string& text) {
  StageFault f;
  std::string why;
  EXPECT_TRUE(ParseStageFault(text, &f, &why)) << why;
  return f;
}

// Two images through the loader with one stage fault: what the receiver
// sends for each, and that flash holds exactly the images answered "PC".
TEST(StageFaults, LoaderStagesSendExactlyWhatTheFaultSays) {
  const Bytes a = Pattern(5000, 1);  // two requests: 4096 and 904 bytes
  const Bytes b = Pattern(300, 2);
  constexpr uint32_t kA = 0x8000, kB = 0x20000;
  struct Case {
    const char* fault;
    std::string heardA, heardB;  // reply tokens, in order, for each image
    size_t noise;                // noise bytes heard
    bool landsA, landsB, gone;
  };
  const Case cases[] = {
      {"header:silent:1", "", "", 0, false, false, false},
      {"header:gone:1", "", "", 0, false, false, true},
      {"header:ok:1", "OK", "BR PC", 0, false, true, false},
      {"header:rx:1", "RX", "BR PC", 0, false, true, false},
      {"header:noise:1", "", "BR PC", 16, false, true, false},
      {"header:pf:1", "PF", "BR PC", 0, false, true, false},
      {"header:pf:2", "BR BR PC", "PF", 0, true, false, false},
      {"request:silent:2", "BR BR", "", 0, false, false, false},
      {"request:gone:1", "BR", "", 0, false, false, true},
      {"request:ok:1", "BR OK", "BR PC", 0, false, true, false},
      {"request:rx:2", "BR BR RX", "BR PC", 0, false, true, false},
      {"request:noise:1", "BR", "BR PC", 16, false, true, false},
      {"request:pf:2", "BR BR PF", "BR PC", 0, false, true, false},
      {"between:silent:1", "BR BR PC", "", 0, true, false, false},
      {"between:gone:1", "BR BR PC", "", 0, true, false, true},
      {"between:ok:1", "BR BR PC OK", "BR PC", 0, true, true, false},
      {"between:rx:1", "BR BR PC RX", "BR PC", 0, true, true, false},
      {"between:noise:1", "BR BR PC", "BR PC", 16, true, true, false},
      {"between:pf:1", "BR BR PC PF", "BR PC", 0, true, true, false},
      {"between:silent:2", "BR BR PC", "BR PC", 0, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ReceiverConfig config = Loader();
    config.faults.stages = {Fault(c.fault)};
    ReceiverModel rx(config);
    Programmer p(rx, 115200);
    ASSERT_TRUE(p.sync());
    auto heard = [&](uint32_t address, const Bytes& image) {
      p.header(address, static_cast<uint32_t>(image.size()), Crc(image));
      std::string tokens;
      for (;;) {
        const auto r = p.replies();
        for (const Reply& reply : r) tokens += (tokens.empty() ? "" : " ") + reply.token;
        if (r.empty() || r.back().token != "BR") return tokens;
        p.answer(r.back(), address, image);
      }
    };
    EXPECT_EQ(heard(kA, a), c.heardA);
    EXPECT_EQ(heard(kB, b), c.heardB);
    EXPECT_EQ(p.noiseBytes, c.noise);
    EXPECT_EQ(rx.lineGone(), c.gone);
    std::vector<uint8_t> want(ReceiverModel::kFlashSize, 0xFF);
    if (c.landsA) std::copy(a.begin(), a.end(), want.begin() + kA);
    if (c.landsB) std::copy(b.begin(), b.end(), want.begin() + kB);
    EXPECT_TRUE(rx.flash() == want);
    for (const auto& image : rx.images())
      EXPECT_EQ(image.passed, image.address == kA ? c.landsA : c.landsB);
  }
}

TEST(StageFaults, ARequestFaultStrikesOnceHalfTheRequestHasCome) {
  ReceiverConfig config = Loader();
  config.faults.stages = {Fault("request:pf:1")};
  ReceiverModel rx(config);
  Programmer p(rx, 115200);
  ASSERT_TRUE(p.sync());
  const Bytes image = Pattern(4096, 3);  // one request of 16 blocks
  p.header(0x8000, 4096, Crc(image));
  ASSERT_EQ(p.replies().size(), 1u);
  p.answer({"BR", 0x8000, 0x8800}, 0x8000, image);  // 8 of the 16 blocks
  auto r = p.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].token, "PF");
  EXPECT_EQ(r[0].first, 0x8000u);
  EXPECT_EQ(r[0].second, 4096u);
  p.answer({"BR", 0x8800, 0x8FFF}, 0x8000, image);  // the rest is taken without a word
  EXPECT_TRUE(p.replies().empty());
  EXPECT_TRUE(rx.images()[0].failed);
  EXPECT_EQ(rx.flash()[0x8000], 0xFF);
}

TEST(StageFaults, SyncFaultsLeaveTheLoaderUnsynced) {
  struct Case {
    const char* fault;
    std::string first, second;  // tokens for the first and the second sync
    size_t noise;
  };
  for (const Case& c : {Case{"sync:ok:1", "OK", "RX", 0}, Case{"sync:noise:1", "", "RX", 16},
                        Case{"sync:silent:2", "RX", "", 0}, Case{"sync:gone:1", "", "", 0}}) {
    SCOPED_TRACE(c.fault);
    ReceiverConfig config = Loader();
    config.faults.stages = {Fault(c.fault)};
    ReceiverModel rx(config);
    Programmer p(rx, 115200);
    auto tokens = [&] {
      p.write("........QV");
      std::string t;
      for (const Reply& r : p.replies()) t += r.token;
      return t;
    };
    EXPECT_EQ(tokens(), c.first);
    EXPECT_EQ(tokens(), c.second);
    EXPECT_EQ(p.noiseBytes, c.noise);
    EXPECT_EQ(rx.syncCount(), int(!c.first.empty() && c.first == "RX") + int(c.second == "RX"));
    EXPECT_EQ(rx.lineGone(), std::string(c.fault) == "sync:gone:1");
  }
}

TEST(StageFaults, DetectFaultsHoldFromTheirSentenceOn) {
  auto listen = [](const char* fault, std::string* text, size_t* noise) {
    ReceiverConfig config;
    config.faults.stages = {Fault(fault)};
    auto rx = std::make_unique<ReceiverModel>(config);
    Programmer p(*rx, 9600);
    for (p.now = 0; p.now <= 1000; ++p.now) {
      for (uint8_t b : p.read()) {
        if (b >= 0x80)
          ++*noise;
        else
          *text += static_cast<char>(b);
      }
    }
    p.write("$PQVRX601,115200*00\r\n");
    return rx;
  };
  std::string text;
  size_t noise = 0;
  auto rx = listen("detect:noise:3", &text, &noise);
  EXPECT_EQ(std::count(text.begin(), text.end(), '$'), 2);  // sentences 1 and 2
  EXPECT_GT(noise, 3 * 50u);                                // 3 to 6 came as noise
  EXPECT_EQ(rx->mode(), ReceiverModel::Mode::kLoader);      // the switch is still taken
  text.clear();
  noise = 0;
  rx = listen("detect:silent:2", &text, &noise);
  EXPECT_EQ(std::count(text.begin(), text.end(), '$'), 1);
  EXPECT_EQ(noise, 0u);
  EXPECT_EQ(rx->mode(), ReceiverModel::Mode::kFirmware);  // nothing is taken
  text.clear();
  rx = listen("detect:gone:1", &text, &noise);
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(rx->lineGone());
}

TEST(StageFaults, SwitchFaultsStrikeOnceTheLoaderHasStarted) {
  for (const char* fault : {"switch:silent:1", "switch:gone:1"}) {
    SCOPED_TRACE(fault);
    ReceiverConfig config;
    config.emitSentences = false;
    config.faults.stages = {Fault(fault)};
    ReceiverModel rx(config);
    Programmer p(rx, 9600);
    p.write("$PQVRX601,57600*00\r\n");
    EXPECT_EQ(rx.mode(), ReceiverModel::Mode::kLoader);
    EXPECT_EQ(rx.baudSwitches(), std::vector<uint32_t>{57600});
    p.baud = 57600;
    EXPECT_FALSE(p.sync());
    EXPECT_EQ(rx.lineGone(), std::string(fault) == "switch:gone:1");
  }
}

}  // namespace
