// Reading a serial trace (serial/trace.h) as the programming protocol's
// frames: what velmora-trace prints.
//
// Bytes from the programmer are cut into the frames it sends: the sync
// string, the baud switch sentence, image headers, blocks (consecutive blocks
// at consecutive addresses, with nothing from the receiver between them, are
// one run: the answer to one block request), and the closing texts. Bytes
// from the receiver are cut into loader replies (two letters anywhere in the
// stream, three of them followed by two 4-byte values, most significant byte
// first) and "$" sentences. Anything else is shown as bytes. One line out per
// frame, as "MICROS DIR WHAT", in the order the frames began:
//
//   MICROS P>R sync
//   MICROS P>R switch RATE
//   MICROS P>R header address 0xAAAAAAAA length N marker 0xMMMMMMMM crc 0xCCCCCCCC
//   MICROS P>R blocks 0xAAAAAAAA count K bytes N
//   MICROS P>R EX            MICROS P>R ABORT
//   MICROS R>P RX            MICROS R>P OK
//   MICROS R>P BR 0xSSSSSSSS 0xEEEEEEEE   (likewise PC and PF)
//   MICROS R>P FT TEXT       free text up to the next reply
//   MICROS R>P sentence TEXT a "$" sentence without its line end
//   MICROS P>R bytes HEX     (or R>P) bytes that form none of these
//
// In TEXT, bytes outside 0x20 to 0x7E are written \xHH and a backslash \\.
// The trace's own records other than bytes (open, rate, drain, close, ...)
// are copied as they are. MICROS is the trace time of the frame's first byte.
//
// Threads: one instance per thread; no shared state.
#ifndef VELMORA_ENGINE_TRACE_FRAMES_H_
#define VELMORA_ENGINE_TRACE_FRAMES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TraceFrames {
 public:
  // Each output line, without its line end, goes to `out`.
  explicit TraceFrames(std::function<void(const std::string&)> out);

  // One line of the trace, without its line end. False, with nothing
  // written, when it is no record of the trace format.
  bool addLine(const std::string& line);

  // The trace has ended: whatever is held back is written out.
  void finish();

 private:
  struct Held {
    int64_t time = 0;
    std::string text;  // bytes, or the free text
  };
  struct Run {
    int64_t time = 0;
    uint32_t first = 0, next = 0, count = 0, bytes = 0;
  };
  enum class Mode { kScan, kValues, kSentence };

  void fromProgrammer(int64_t time, const std::string& bytes);
  void fromReceiver(int64_t time, uint8_t byte);
  void cutFrames(bool atEnd);
  void endReceiverFrame();
  void write(int64_t time, const std::string& dir, const std::string& what);
  void flushHeld();
  void emit(int64_t time, const std::string& dir, const std::string& what);

  std::function<void(const std::string&)> out_;
  // Programmer to receiver: bytes not yet cut, each with its time.
  std::string pending_;
  std::vector<int64_t> pendingTimes_;
  Held sentUnknown_;
  Run run_;
  // Receiver to programmer.
  Mode mode_ = Mode::kScan;
  bool freeText_ = false;  // after "FT", until the next reply
  bool ftOpen_ = false;    // free text is held for writing
  Held receivedUnknown_, ft_;
  int64_t frameTime_ = 0;
  std::string frame_;  // the reply token and its values so far, or the sentence
  int prev_ = -1;      // the byte before, while it may begin a reply
  int64_t prevTime_ = 0;
  size_t prevMark_ = 0;  // where it stands in the text that holds it
  bool prevInFreeText_ = false;
};

#endif  // VELMORA_ENGINE_TRACE_FRAMES_H_
