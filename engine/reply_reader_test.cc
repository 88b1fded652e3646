#include "engine/reply_reader.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/engine_fixture.h"

namespace {

class ReplyReaderTest : public EngineTest {
 protected:
  ReplyReaderTest() { OpenPort(); }

  // Feeds `bytes` and counts the replies they complete, polling until the
  // line is quiet.
  int Replies(const std::string& bytes) {
    peer.send(bytes, now());
    int replies = 0;
    for (size_t i = 0; i < bytes.size() + 2; ++i) replies += PollReply();
    return replies;
  }
  int Sentences(const std::string& bytes) {
    peer.send(bytes, now());
    int sentences = 0;
    for (size_t i = 0; i < bytes.size() + 2; ++i) sentences += PollSentence();
    return sentences;
  }
};

TEST_F(ReplyReaderTest, TokensAreFoundWhereverTheirLettersMeet) {
  EXPECT_EQ(Replies("QVRX"), 1);
  EXPECT_STREQ(ReplyText(), "RX");
  EXPECT_EQ(Replies("RRX"), 1);
  EXPECT_EQ(Replies(Bytes({'R', 0x00, 'X'})), 1);  // 0x00 neither enters nor breaks
  EXPECT_EQ(Replies("xxOKyy"), 1);
  EXPECT_STREQ(ReplyText(), "OK");
  EXPECT_EQ(Replies("ABCDQV"), 0);
}

TEST_F(ReplyReaderTest, RequestCompletesWithItsEighthByte) {
  peer.send("BR" + Bytes({0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0xFF}), now());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(PollReply(), 0);
  peer.send(Bytes({0xFF}), now());
  EXPECT_EQ(PollReply(), 1);
  EXPECT_STREQ(ReplyText(), "BR");
  EXPECT_EQ(RequestStart(), 0x10000u);
  EXPECT_EQ(RequestEnd(), 0x1FFFFu);

  // Any byte value is data inside the eight, letters and 0x00 included.
  EXPECT_EQ(Replies("PF" + Bytes({0, 'R', 'X', 0, 'O', 'K', 0, 7})), 1);
  EXPECT_STREQ(ReplyText(), "PF");
  EXPECT_EQ(RequestStart(), 0x00525800u);
  EXPECT_EQ(RequestEnd(), 0x4F4B0007u);
}

TEST_F(ReplyReaderTest, HalfAReplyCompletesInALaterWait) {
  peer.send("BR" + Bytes({1, 2, 3, 4, 5}), now());
  const int32_t start = now();
  EXPECT_EQ(WaitForReply(100), 0);
  EXPECT_EQ(now() - start, 101);
  peer.send(Bytes({'R', 'X', 'Z'}), now());
  EXPECT_EQ(WaitForReply(100), 1);
  EXPECT_STREQ(ReplyText(), "BR");
  EXPECT_EQ(RequestStart(), 0x01020304u);
  EXPECT_EQ(RequestEnd(), 0x0552585Au);
}

TEST_F(ReplyReaderTest, FreeTextIsCollectedUntilTheNextToken) {
  EXPECT_EQ(Replies("FThello"), 0);
  EXPECT_STREQ(ReplyText(), "FThello");
  EXPECT_EQ(Replies(" there RX"), 1);
  EXPECT_STREQ(ReplyText(), "RX");
  // Free text is bounded at 200 characters.
  EXPECT_EQ(Replies("FT" + std::string(300, 'z')), 0);
  EXPECT_EQ(std::string(ReplyText()), "FT" + std::string(198, 'z'));
}

TEST_F(ReplyReaderTest, ResetDropsExactlyOnePendingByte) {
  // What is left after the first pending byte is gone.
  for (auto [pending, replies] : {std::pair{"RX", 0}, {"RRX", 1}, {"XRX", 1}}) {
    SCOPED_TRACE(pending);
    peer.send(pending, now());
    ResetReplyReader();
    EXPECT_EQ(Replies(""), replies);
  }
  // It empties the window: an "R" seen before the reset no longer pairs.
  peer.send("R", now());
  PollReply();
  peer.send("QX", now());
  ResetReplyReader();
  EXPECT_EQ(Replies(""), 0);
}

TEST_F(ReplyReaderTest, SentencesCompleteAtLineFeedOrTheNextDollar) {
  EXPECT_EQ(Sentences("$GPRMC\r\n"), 1);
  EXPECT_EQ(Sentences("$A$B\n"), 2);
  EXPECT_EQ(Sentences("ABC\n"), 0);
  EXPECT_EQ(Sentences("$AB" + Bytes({0x07}) + "C\n"), 0);
  EXPECT_EQ(Sentences("$AB" + Bytes({0xA4}) + "C\n"), 0);
  // A sentence longer than its 99 characters stays open and completes once.
  EXPECT_EQ(Sentences("$" + std::string(500, 'G') + "\r\n"), 1);
}

TEST_F(ReplyReaderTest, TheOpenSentenceKeepsItsFirst99Characters) {
  EXPECT_EQ(Sentences("$GP,1\t2"), 0);
  EXPECT_STREQ(SentenceTextForTesting(), "$GP,1\t2");
  EXPECT_EQ(Sentences(std::string(200, 'x')), 0);
  EXPECT_STREQ(SentenceTextForTesting(), ("$GP,1\t2" + std::string(92, 'x')).c_str());
  EXPECT_EQ(Sentences("$"), 1);  // the next "$" completes it and starts anew
  EXPECT_STREQ(SentenceTextForTesting(), "$");
  EXPECT_EQ(Sentences(Bytes({0x80})), 0);  // noise drops the open sentence
  EXPECT_STREQ(SentenceTextForTesting(), "");
}

TEST_F(ReplyReaderTest, ResetSentenceReaderEmptiesTheLineAndClosesTheSentence) {
  peer.send("$GPGGA,123" + std::string(300, 'x'), now());
  ResetSentenceReader();
  EXPECT_EQ(Sentences("\n"), 0);  // what was open is gone
}

TEST_F(ReplyReaderTest, WaitsLastTheirTimeOutToTheMillisecond) {
  int32_t start = now();
  EXPECT_EQ(WaitForReply(100), 0);
  EXPECT_EQ(now() - start, 101);
  start = now();
  EXPECT_EQ(WaitForSentence(1000), 0);
  EXPECT_EQ(now() - start, 1001);
  start = now();
  Delay(10);
  EXPECT_EQ(now() - start, 11);
  start = now();
  EXPECT_EQ(WaitForReply(0), 0);  // a zero wait still polls once
  EXPECT_EQ(now() - start, 1);

  peer.send("RX", now() + 50);
  start = now();
  EXPECT_EQ(WaitForReply(8000), 1);
  EXPECT_EQ(now() - start, 50);
}

// A front end that holds the run once, at the wait's tenth turn, while 5 s
// pass (its stop question is up): the wait goes on afterwards with the time
// it had left, so what came meanwhile (at 50 ms) is still taken.
class HoldingWindow : public RecordingWindow {
 public:
  explicit HoldingWindow(VirtualClock& clock) : clock_(clock) {}
  bool WaitWhileHeld() noexcept override {
    if (++turns_ != 10) return false;
    clock_.advance(5000);
    return true;
  }

 private:
  VirtualClock& clock_;
  int turns_ = 0;
};

TEST_F(ReplyReaderTest, TimeHeldDoesNotCountAgainstAWait) {
  const struct {
    const char* name;
    int (*wait)();
    int result;
    int32_t took;
  } cases[] = {
      {"reply", [] { return WaitForReply(100); }, 1, 5010},
      {"sentence", [] { return WaitForSentence(100); }, 1, 5010},
      {"delay", [] { return Delay(100), 0; }, 0, 5101},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HoldingWindow holding(line.clock);
    g_hProgressWnd = &holding;
    peer.send("$GP\nRX", now() + 50);
    const int32_t start = now();
    EXPECT_EQ(c.wait(), c.result);
    EXPECT_EQ(now() - start, c.took);
    g_hProgressWnd = nullptr;
    ResetSentenceReader();
  }
}

TEST_F(ReplyReaderTest, TimerSurvivesAClockThatWraps) {
  line.clock.advance(INT32_MAX - 5);
  const int32_t start = now();
  EXPECT_EQ(WaitForReply(20), 0);
  EXPECT_EQ(static_cast<uint32_t>(now()) - static_cast<uint32_t>(start), 21u);
}

// A reply whose bytes arrive while the programmer is held up (stopped by a
// signal, a suspended laptop): after `heldAfter` of its bytes were read, the
// clock jumps `holdMs` during one read (which finds nothing when `heldAfter`
// is 0), and the rest of the reply is readable at once after it. With
// `heldAfter` -1 nothing holds it up, and the reply is readable from
// `readableFromMs` on.
struct HeldUpReply : public LinePeer {
  void receive(int64_t, uint32_t, const uint8_t*, size_t) override {}
  size_t transmit(int64_t nowMs, uint32_t, uint8_t* buffer, size_t count) override {
    if (count == 0) return 0;
    if (!held && heldAfter >= 0 && given == static_cast<size_t>(heldAfter)) {
      held = true;
      clock->advance(holdMs);
      if (heldAfter == 0) return 0;
    }
    const bool before = heldAfter >= 0 && given < static_cast<size_t>(heldAfter);
    if (!(held || before || heldAfter < 0) || nowMs < readableFromMs || given >= reply.size())
      return 0;
    buffer[0] = static_cast<uint8_t>(reply[given++]);
    return 1;
  }

  std::string reply;
  int heldAfter = -1;
  int32_t holdMs = 0;
  int64_t readableFromMs = 0;
  VirtualClock* clock = nullptr;
  bool held = false;
  size_t given = 0;
};

// When the time is up, what already arrived is taken before the reply is
// called lost; a reply that only comes after the time-out is lost all the
// same, and the wait still ends on time.
TEST_F(ReplyReaderTest, AReplyThatArrivedWhileHeldUpIsNotLost) {
  struct Case {
    const char* name;
    int heldAfter;
    int32_t holdMs;
    int64_t readableFromMs;
    int replied;
    int32_t tookMs;
  };
  const Case cases[] = {
      {"held up between the reply's bytes", 1, 9000, 0, 1, 9000},
      {"held up between the values' bytes", 5, 20000, 0, 1, 20000},
      {"held up in a read that found nothing", 0, 9000, 0, 1, 9001},
      {"a reply that comes only after the time-out", -1, 0, 8010, 0, 8001},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearReadersForTesting();
    HeldUpReply peerHeld;
    peerHeld.reply = "BR" + U32(0x10000) + U32(0x100FF);
    peerHeld.heldAfter = c.heldAfter;
    peerHeld.holdMs = c.holdMs;
    peerHeld.readableFromMs = c.readableFromMs;
    {
      VirtualPortOpener heldLine(peerHeld);
      peerHeld.clock = &heldLine.clock;
      SerialPort::install(SerialPort::open("COM1", 115200));
      EXPECT_EQ(WaitForReply(8000), c.replied);
      EXPECT_EQ(heldLine.clock.nowMs(), c.tookMs);
      if (c.replied) {
        EXPECT_STREQ(ReplyText(), "BR");
        EXPECT_EQ(RequestEnd(), 0x100FFu);
      }
    }
  }
}

}  // namespace
