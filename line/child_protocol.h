// What a port's child process tells velmora-line over its pipe.
//
// The child runs one receiver's programming run (after, in station mode,
// waiting for the receiver to be replaced) and reports every step as a
// message. On the pipe a message is 13 bytes of head and then its text:
//
//   offset 0   kind, one byte (MessageKind)
//   offset 1   a, signed 32-bit, little-endian
//   offset 5   b, signed 32-bit, little-endian
//   offset 9   the text's length in bytes, unsigned 32-bit, little-endian
//   offset 13  the text
//
// Kinds and what a, b and the text carry:
//
//   'W' waiting    station mode: watching for the programmed receiver to leave
//   'G' left       station mode: it left; a 1 when the adapter went away, 0
//                  when the line went quiet; then watching for the next one
//   'B' begin      the programming run starts
//   'D' detecting  the port is open and the receiver is being looked for
//   'L' loader     its loader answered at a bit/s
//   'F' firmware   its firmware's sentences were found at a bit/s
//   'S' switched   the port moved to the programming rate a bit/s
//   'T' total      a: the run's total image bytes
//   'P' position   a: image bytes covered so far
//   'I' image      a: the slot (0 to 12) whose header is being sent
//   'O' outcome    a: the slot, b: its outcome (ImageOutcome, programmer.h)
//   'X' output     the text the programmer printed, as it printed it
//   'E' error      one line (no line end) the programmer had for standard error
//   'R' result     a: the programmer's result (0 to 3); b: kResultAborted
//                  when a stop cut the run short, kResultNoRun when it was
//                  stopped while waiting and no run took place
//
// 'R' is the last message of a child. A child that ends without one ended
// abnormally.
//
// Threads: an encoder keeps nothing; a MessageReader is used by one thread.
#ifndef VELMORA_LINE_CHILD_PROTOCOL_H_
#define VELMORA_LINE_CHILD_PROTOCOL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class MessageKind : char {
  kWaiting = 'W',
  kLeft = 'G',
  kBegin = 'B',
  kDetecting = 'D',
  kLoaderFound = 'L',
  kFirmwareFound = 'F',
  kSwitched = 'S',
  kTotal = 'T',
  kPosition = 'P',
  kImage = 'I',
  kImageDone = 'O',
  kOutput = 'X',
  kError = 'E',
  kResult = 'R',
};

constexpr int32_t kResultAborted = 1;
constexpr int32_t kResultNoRun = 2;

// The largest text a message carries; longer output goes in several.
constexpr size_t kMaxMessageText = 64 * 1024;

struct Message {
  MessageKind kind = MessageKind::kOutput;
  int32_t a = 0;
  int32_t b = 0;
  std::string text;
};

// The message's bytes on the pipe. `text` must be at most kMaxMessageText.
std::string EncodeMessage(MessageKind kind, int32_t a, int32_t b = 0, std::string_view text = {});

// Takes the pipe's bytes as they come, in pieces of any size, and gives back
// whole messages.
class MessageReader {
 public:
  void feed(const char* data, size_t count) { pending_.append(data, count); }
  // The next whole message, if there is one. Returns false when there is
  // none yet, and for good once the bytes are no message (corrupt()).
  bool next(Message* message);
  bool corrupt() const { return corrupt_; }
  // Bytes taken that belong to no whole message yet.
  size_t pendingBytes() const { return pending_.size() - head_; }

 private:
  std::string pending_;
  size_t head_ = 0;
  bool corrupt_ = false;
};

#endif  // VELMORA_LINE_CHILD_PROTOCOL_H_
