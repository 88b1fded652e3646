#include "engine/reply_reader.h"

#include <cstring>

#include "engine/clock.h"
#include "engine/progress.h"
#include "engine/protocol.h"
#include "serial/serial_port.h"

namespace {

constexpr int kReplyTextMax = 200;
constexpr int kSentenceMax = 99;

struct ReplyReader {
  int mode = 0;         // 0 scanning for a token, 1 collecting eight bytes
  char window[3] = {};  // the latest characters seen while scanning
  int windowLength = 0;
  char replyText[kReplyTextMax + 1] = {};
  int count = 0;  // bytes of the eight so far; or the free text's length
  int freeText = 0;
  uint8_t values[kReplyValueBytes] = {};
  uint32_t requestStart = 0;
  uint32_t requestEnd = 0;
};

struct SentenceReader {
  int open = 0;
  char sentence[kSentenceMax + 1] = {};
  int length = 0;
};

struct WaitTimer {
  int32_t start = 0;
  uint32_t limit = 0;
};

ReplyReader g_reply;
SentenceReader g_sentence;
WaitTimer g_timer;

// In this order: the first two complete at once, the next three with their
// values, and the last starts free text.
constexpr const char* kTokens[] = {kSyncedReply,   kOkReply,     kRequestReply,
                                   kCompleteReply, kFailedReply, kFreeTextReply};

uint32_t BigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void CloseSentence() {
  g_sentence.open = 0;
  g_sentence.length = 0;
  g_sentence.sentence[0] = '\0';
}

}  // namespace

namespace {

// PollReply, telling in `got` whether a byte arrived.
int PollReplyByte(bool* got) {
  uint8_t b;
  *got = SerialPort::read(&b, 1) == 1;
  if (!*got) return 0;
  ReplyReader& r = g_reply;

  // A 0x00 byte neither enters the window nor breaks a token.
  if (b != 0x00) r.window[r.windowLength++] = static_cast<char>(b);

  if (r.mode == 1) {
    r.windowLength = 0;
    r.values[r.count++] = b;
    if (r.count < static_cast<int>(kReplyValueBytes)) return 0;
    r.requestStart = BigEndian(r.values);
    r.requestEnd = BigEndian(r.values + 4);
    r.mode = 0;
    return 1;
  }

  if (r.windowLength > 2) {
    r.window[0] = r.window[1];
    r.window[1] = r.window[2];
    r.windowLength = 2;
  }
  if (r.windowLength == 2) {
    int match = -1;
    for (int i = 0; i < 6 && match < 0; ++i)
      if (r.window[0] == kTokens[i][0] && r.window[1] == kTokens[i][1]) match = i;
    if (match >= 0) {
      std::strcpy(r.replyText, kTokens[match]);
      r.windowLength = 0;
      if (match <= 1) {  // "RX", "OK"
        r.freeText = 0;
        return 1;
      }
      if (match <= 4) {  // "BR", "PC", "PF": eight bytes follow
        r.freeText = 0;
        r.count = 0;
        r.mode = 1;
        return 0;
      }
      r.freeText = 1;  // "FT"; its "T" is not part of the text
      r.count = 2;
      return 0;
    }
    // Slide by one character: the latest stays, a token may start with it.
    r.window[0] = r.window[1];
    r.windowLength = 1;
  }
  if (r.freeText && r.count < kReplyTextMax && b != 0x00) {
    r.replyText[r.count++] = static_cast<char>(b);
    r.replyText[r.count] = '\0';
  }
  return 0;
}

// PollSentence, telling in `got` whether a byte arrived.
int PollSentenceByte(bool* got) {
  uint8_t b;
  *got = SerialPort::read(&b, 1) == 1;
  if (!*got) return 0;
  const bool whiteSpace = (b >= 0x09 && b <= 0x0D) || b == 0x20;
  const bool printable = b >= 0x20 && b <= 0x7E;
  if (!whiteSpace && !printable) {  // control byte, noise included
    CloseSentence();
    return 0;
  }
  if (b == '\n') {
    const int completed = g_sentence.open;
    CloseSentence();
    return completed;
  }
  if (b == kSentenceStart) {
    const int completed = g_sentence.open;
    CloseSentence();
    g_sentence.open = 1;
    g_sentence.sentence[g_sentence.length++] = '$';
    g_sentence.sentence[g_sentence.length] = '\0';
    return completed;
  }
  // Characters past the 99th are dropped; the sentence stays open.
  if (g_sentence.open && g_sentence.length < kSentenceMax) {
    g_sentence.sentence[g_sentence.length++] = static_cast<char>(b);
    g_sentence.sentence[g_sentence.length] = '\0';
  }
  return 0;
}

}  // namespace

int PollReply() {
  bool got;
  return PollReplyByte(&got);
}

void ResetReplyReader() {
  uint8_t dropped;
  SerialPort::read(&dropped, 1);
  g_reply.windowLength = 0;
}

int PollSentence() {
  bool got;
  return PollSentenceByte(&got);
}

void ResetSentenceReader() {
  uint8_t discard[99];
  const int32_t start = EngineClock().nowMs();
  while (SerialPort::read(discard, sizeof discard) > 0) {
    // Differences modulo 2^32, as the wait timer takes them.
    const auto spent = static_cast<int32_t>(static_cast<uint32_t>(EngineClock().nowMs()) -
                                            static_cast<uint32_t>(start));
    if (spent >= kDiscardLimitMs || RunCutShort()) break;
  }
  CloseSentence();
}

const char* ReplyText() {
  return g_reply.replyText;
}
uint32_t RequestStart() {
  return g_reply.requestStart;
}
uint32_t RequestEnd() {
  return g_reply.requestEnd;
}

void StartTimer(int ms) {
  g_timer.limit = static_cast<uint32_t>(ms) * 1000u / 1000u;
  g_timer.start = EngineClock().nowMs();
}

int TimerExpired() {
  // The difference is taken modulo 2^32, so a clock that wraps still works.
  const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(EngineClock().nowMs()) -
                                            static_cast<uint32_t>(g_timer.start));
  return elapsed > static_cast<int32_t>(g_timer.limit) ? 1 : 0;
}

namespace {

// The first clock reading at which the armed timer's time is up.
int32_t TimeUpMs() {
  return static_cast<int32_t>(static_cast<uint32_t>(g_timer.start) + g_timer.limit + 1u);
}

// Tells the clock in force, for as long as it lives, when the armed timer's
// time is up (clock.h).
class ClockKnowsTheWait {
 public:
  ClockKnowsTheWait() { EngineClock().waiting(true, TimeUpMs()); }
  ~ClockKnowsTheWait() { EngineClock().waiting(false, 0); }
  ClockKnowsTheWait(const ClockKnowsTheWait&) = delete;
  ClockKnowsTheWait& operator=(const ClockKnowsTheWait&) = delete;
};

// Whether the time-out was overrun by more than a poll takes: the thread was
// held up (stopped, or the machine suspended) during the last read.
bool HeldUpPastTheTimeout() {
  const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(EngineClock().nowMs()) -
                                            static_cast<uint32_t>(g_timer.start));
  return elapsed > static_cast<int32_t>(g_timer.limit) + kHeldUpMs;
}

// Waits while the front end holds the run (its stop question is up). The
// time held does not count against the armed timer: a wait goes on after
// the answer with the time it had left, so a reply that came meanwhile is
// still taken.
void HoldTimer() {
  if (!g_hProgressWnd) return;
  const auto before = static_cast<uint32_t>(EngineClock().nowMs());
  if (!WaitWhileRunHeld()) return;
  const uint32_t held = static_cast<uint32_t>(EngineClock().nowMs()) - before;
  g_timer.start = static_cast<int32_t>(static_cast<uint32_t>(g_timer.start) + held);
  EngineClock().waiting(true, TimeUpMs());
}

// Polls `poll` until it completes something (1), or `ms` have passed or the
// run is cut short (0). When the time is up while bytes are arriving, or the
// thread was held up past it, what is already readable is taken first: a
// reply that arrived meanwhile still counts, and only a read that finds
// nothing (or kLateBytesMax bytes that complete nothing) ends the wait.
int WaitFor(int ms, int (*poll)(bool*)) {
  StartTimer(ms);
  if (TimerExpired() || RunCutShort()) return 0;
  const ClockKnowsTheWait hint;
  for (;;) {
    bool got = false;
    if (poll(&got)) return 1;
    HoldTimer();
    if (RunCutShort()) return 0;
    if (!TimerExpired()) continue;
    got = got || HeldUpPastTheTimeout();
    for (int late = 0; got && late < kLateBytesMax; ++late)
      if (poll(&got)) return 1;
    return 0;
  }
}

}  // namespace

bool RunCutShort() {
  return RunAborted() || SerialPort::lineGone();
}

int WaitForReply(int ms) {
  return WaitFor(ms, PollReplyByte);
}

int WaitForSentence(int ms) {
  return WaitFor(ms, PollSentenceByte);
}

void Delay(int ms) {
  StartTimer(ms);
  const ClockKnowsTheWait hint;
  while (!TimerExpired() && !RunAborted()) {
    EngineClock().idle();
    HoldTimer();
  }
}

const char* SentenceTextForTesting() {
  return g_sentence.sentence;
}

void ClearReadersForTesting() {
  g_reply = ReplyReader{};
  g_sentence = SentenceReader{};
  g_timer = WaitTimer{};
}
