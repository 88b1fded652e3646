// A simulated GPS receiver: its normal firmware and its programming loader,
// seen from the far end of a serial line.
//
// The model takes the programmer's bytes and the passing of time and gives
// back the receiver's bytes. It is deterministic: the same calls with the same
// configuration (seed included) give the same bytes. It does no I/O and starts
// no threads; whoever drives it (a virtual line in unit tests, a
// pseudo-terminal in the simulator program) supplies the time and the
// programmer's line speed with every call.
//
// What it does:
// - Normal firmware (unless the configuration starts it in the loader): emits
//   NMEA sentences (GGA, RMC, GSA, GSV in turn, with correct checksums) at its
//   own rate and accepts the baud switch sentence "$PQVRX601,<rate>*00" at that
//   rate, after which the loader runs at <rate> and the sentences stop.
// - Loader: answers the sync string "........QV" with "RX"; takes an image
//   header ".SP" address length marker-address crc; asks for the image with
//   block requests "BR" start end (end inclusive) of at most requestSize bytes;
//   takes blocks ".BT" address n data; checks the CRC and answers "PC" or "PF"
//   with the image's address and length. "EX" ends programming, "ABORT" sends
//   the loader back to waiting for a sync. Frames are parsed by content, not by
//   write boundaries.
// - The programmer sends a request's blocks with the rule "a = start; while
//   a < end: n = min(end - a + 1, 256)", which never sends the last byte of a
//   span of 1 mod 256 bytes. For such a chunk the loader asks for one address
//   more and keeps only the bytes it needs, so every image length works.
// - Bytes that cross the line while the two ends' rates differ are lost or
//   arrive as noise bytes 0x80..0xFF; noise never forms a reply token (tokens
//   are ASCII letters). The receiver drops what it receives at the wrong rate.
// - Flash (2 MiB, starts erased at 0xFF) holds exactly the images answered
//   with "PC": an image is staged while its blocks arrive and written into
//   flash when its CRC matches. Bytes beyond 2 MiB are dropped.
//
// Time: milliseconds as given by the caller; times never go backwards between
// calls. The model's own clock starts at the first call's time.
//
// Threads: none inside; the caller drives one instance from one thread at a
// time (see LinePeer).
#ifndef VELMORA_SIM_RECEIVER_MODEL_H_
#define VELMORA_SIM_RECEIVER_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/line_peer.h"
#include "sim/stage_fault.h"

// Misbehaviour on demand. All off by default. Counts are 1-based: 1 means the
// first header or the first block request; 0 turns the fault off.
struct Faults {
  // Faults placed at a stage of the run; see StageFault. Each strikes at most
  // once (a kDetect one holds from its sentence on).
  std::vector<StageFault> stages;
  // Silent after a header for address 0: no request and no reply for that
  // image; the next header is taken as usual. Flash at address 0 stays as it
  // was.
  bool bootWriteProtected = false;
  // The image written at this address is answered with "PF" once all its bytes
  // have arrived, whatever its CRC; it never reaches flash.
  std::optional<uint32_t> failSlotAddress;
  // From the Nth header taken onwards the receiver sends nothing more.
  int silentAfterHeader = 0;
  // After sending the Nth block request the receiver sends nothing more.
  int silentAfterRequest = 0;
  // "OK" is sent in place of the Nth block request; the loader then waits for
  // bytes that were never asked for.
  int okInsteadOfRequest = 0;
  // Before every reply token: "FT", a short free text and a few noise bytes.
  bool freeTextBetweenReplies = false;
  // Every Nth byte the receiver takes from the programmer (at the right rate)
  // is lost.
  int dropEveryNthByte = 0;
  // The first image with data gets one extra request, sent before its own
  // requests, for 16 bytes just past its end or just below its address (below
  // 0 is impossible, so an image at 0 gets the one past its end). Bytes that
  // come for it are taken and thrown away; the image goes on once they have
  // all come.
  enum class Outside { kNone, kBeyondEnd, kBelowStart };
  Outside requestOutsideImage = Outside::kNone;
  // The Nth block request carries corrupted addresses (both flipped in their
  // upper bits). The loader keeps waiting for the bytes it needed, so it falls
  // silent unless the programmer sends them anyway.
  int garbledRequest = 0;
  // Right after sending the Nth block request the line goes away: lineGone()
  // turns true and the receiver neither sends nor takes anything more. (The
  // simulator program closes its pseudo-terminal when it sees the flag.)
  int lineGone = 0;
};

struct ReceiverConfig {
  uint32_t firmwareBaud = 9600;  // the normal firmware's rate, bit/s
  bool startInLoader = false;    // start with the loader already running...
  uint32_t loaderBaud = 115200;  // ...at this rate, bit/s
  bool emitSentences = true;     // the normal firmware emits "$" sentences
  int sentencePeriodMs = 200;    // one sentence every this many ms, the first at the start
  uint32_t requestSize = 4096;   // image bytes per block request (at least 1)
  bool lineTiming = false;       // true: each byte takes 10 bit times on the line, both ways;
                                 // false: bytes arrive at the time they are sent
  bool keepTranscript = true;    // record every byte in transcript()
  bool keepFlash = true;         // write the images answered "PC" into flash(); off, it stays
                                 // erased (images() still records them)
  int restartAfterExMs = 0;      // the receiver restarts into its firmware this long after
                                 // "EX", as a real one does when its loader ends; 0: it stays
                                 // done until reboot()
  int frameTimeoutMs = 0;        // the loader gives up a frame that stops for this long in the
                                 // middle (0: it waits for the rest for ever)
  uint32_t seed = 1;             // for the noise that rate mismatches make
  Faults faults;
};

class ReceiverModel : public LinePeer {
 public:
  static constexpr uint32_t kFlashSize = 2u * 1024 * 1024;

  explicit ReceiverModel(ReceiverConfig config = {});

  // LinePeer. `baud` is the programmer's rate at the time of the call; bytes
  // that reach the programmer between two calls are read at the earlier
  // call's rate, those that reach it at the call's own time at its rate.
  void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) override;
  size_t transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) override;
  // The next of its events (a byte reaching the programmer, one of the
  // programmer's bytes reaching it, a sentence falling due) from which a
  // transmit could give a byte.
  int64_t nextByteMs(int64_t nowMs) const override;

  enum class Mode {
    kFirmware,     // normal firmware running
    kLoader,       // loader waiting for a sync or a header
    kProgramming,  // header taken, serving the image's block requests
    kDone,         // "EX" taken; nothing more is answered until the restart
  };
  Mode mode() const { return mode_; }
  // The rate the loader runs at; 0 while the normal firmware has not switched.
  uint32_t loaderBaud() const { return loaderBaud_; }
  // 2 MiB of flash. Starts erased (0xFF); holds exactly the images answered "PC".
  const std::vector<uint8_t>& flash() const { return erasedFlash(); }

  // One per header taken, in order.
  struct ImageRecord {
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t markerAddress = 0;
    uint32_t crc = 0;
    bool passed = false;  // "PC" sent
    bool failed = false;  // "PF" sent
  };
  const std::vector<ImageRecord>& images() const { return images_; }

  int syncCount() const { return syncCount_; }        // sync strings answered with "RX"
  int exCount() const { return exCount_; }            // "EX" frames taken
  int abortCount() const { return abortCount_; }      // "ABORT" frames taken
  int requestCount() const { return requestCount_; }  // block requests sent (or replaced)
  // Rates asked for by baud switch sentences the firmware took, in order.
  std::vector<uint32_t> baudSwitches() const { return baudSwitches_; }
  // The line went away (Faults::lineGone).
  bool lineGone() const { return lineGone_; }
  // ... and the last bytes sent before it went have reached the programmer.
  bool goneForGood() const override { return lineGone_ && outHead_ == outQueue_.size(); }

  // With restartAfterExMs, the receiver restarts by itself that long after it
  // took "EX": the firmware runs at its own rate and the loader's state is
  // gone, as after reboot(), but the line is left alone (a restart is no
  // power cycle). Programmer's bytes that arrive from then on reach the
  // firmware.
  //
  // Restarts the receiver as a power cycle does: the normal firmware runs at
  // its own rate (sentences from the next call on, when they are on), the
  // loader's state is gone and bytes still on the line in either direction are
  // dropped unrecorded. Flash, images(), the counts and faults that have
  // already fired are kept, so a fault counted over headers or requests fires
  // once in the receiver's life. A line that has gone stays gone.
  void reboot();

  // One byte on the line.
  struct TranscriptEntry {
    enum class Direction : uint8_t { kToReceiver, kToProgrammer };
    enum class Fate : uint8_t {
      kTaken,    // arrived as sent and was used
      kIgnored,  // arrived as sent, but the far end's rate differed (to the receiver),
                 // or the receiver dropped it (dropEveryNthByte, silent, line gone)
      kLost,     // rates differed: nothing arrived
      kNoise,    // rates differed: `delivered` arrived instead
    };
    int64_t timeUs;  // when the byte arrived at the far end, microseconds
    uint32_t baud;   // the sender's rate
    Direction direction;
    Fate fate;
    uint8_t byte;       // as sent
    uint8_t delivered;  // as received (equals `byte` unless noise)
  };
  const std::vector<TranscriptEntry>& transcript() const { return transcript_; }
  // Also hands every entry, as it is made, to `sink` (for a log written while
  // the receiver runs). An empty function removes the sink.
  void setTranscriptSink(std::function<void(const TranscriptEntry&)> sink) {
    sink_ = std::move(sink);
  }

  // The CRC the loader checks: CRC-32, reflected polynomial 0xEDB88320,
  // register starting at 0xFFFFFFFF, no final inversion.
  static uint32_t ImageCrc(const uint8_t* data, size_t count);

 private:
  struct InByte {
    int64_t atNs;
    uint32_t baud;
    uint8_t byte;
  };
  struct OutByte {
    int64_t atNs;  // arrival at the programmer's end
    uint32_t baud;
    uint8_t byte;
  };
  // One block request the loader is waiting on.
  struct Request {
    uint32_t start = 0;         // first address needed
    uint32_t need = 0;          // bytes needed from start
    uint32_t got = 0;           // distinct needed bytes arrived
    std::vector<bool> have;     // per needed byte
    bool faultChecked = false;  // the kRequest stage has been passed
    bool replyDropped = false;  // a fault took the place of the reply due
  };
  enum class Parse {
    kIdle,
    kDots,       // full stops seen (dots_)
    kSyncV,      // "..Q" seen, V expected
    kHeaderP,    // ".S" seen
    kHeader,     // ".SP" seen, 16 bytes to collect
    kBlockT,     // ".B" seen
    kBlockHead,  // ".BT" seen, address and length to collect
    kBlockData,  // collecting block data
    kExX,        // "E" seen
    kAbort,      // a prefix of "ABORT" seen (match_)
  };

  void advance(int64_t nowNs, uint32_t baud);
  void restartFirmware(int64_t atNs);
  void runUntil(int64_t nowNs);
  void deliver(int64_t upToNs, bool inclusive, uint32_t baud);
  void takeByte(int64_t atNs, uint32_t baud, uint8_t byte);
  void firmwareByte(int64_t atNs, uint8_t byte);
  void loaderByte(int64_t atNs, uint8_t byte);
  void idleByte(int64_t atNs, uint8_t byte);
  void headerTaken(int64_t atNs);
  void blockByte(uint32_t address, uint8_t byte);
  void blockDone(int64_t atNs);
  void nextRequest(int64_t atNs);
  void issueRequest(int64_t atNs, uint32_t start, uint32_t end);
  void sync(int64_t atNs);
  void finishImage(int64_t atNs);
  void strike(int64_t atNs, Action action);
  void refuseImage(int64_t atNs);
  const StageFault* stageFault(Stage stage, int count) const;
  void sendNoise(int64_t atNs, size_t count);
  void emitSentence(int64_t atNs);
  void send(int64_t atNs, uint32_t baud, const uint8_t* data, size_t count);
  void sendText(int64_t atNs, const std::string& text);
  void reply(int64_t atNs, const std::string& token, const uint8_t* extra, size_t extraCount);
  void record(const TranscriptEntry& entry);
  uint32_t nextRandom();
  int64_t byteNs(uint32_t baud) const;
  uint32_t rate() const;

  ReceiverConfig config_;
  Mode mode_ = Mode::kFirmware;
  uint32_t loaderBaud_ = 0;
  // The flash, made (erased) when first needed: a model that never writes
  // an image costs no 2 MiB.
  std::vector<uint8_t>& erasedFlash() const {
    if (flash_.empty()) flash_.assign(kFlashSize, 0xFF);
    return flash_;
  }
  mutable std::vector<uint8_t> flash_;
  std::vector<ImageRecord> images_;
  int syncCount_ = 0;
  int exCount_ = 0;
  int abortCount_ = 0;
  int requestCount_ = 0;
  int headerCount_ = 0;
  int sentenceCount_ = 0;         // sentences the firmware has emitted (or replaced)
  int syncSeen_ = 0;              // sync strings received, answered or not
  int passCount_ = 0;             // "PC" sent
  int64_t exAtNs_ = 0;            // when "EX" was taken
  int64_t lastLoaderByteNs_ = 0;  // when the loader last took a byte
  std::vector<uint32_t> baudSwitches_;
  bool lineGone_ = false;
  bool silent_ = false;
  std::vector<TranscriptEntry> transcript_;
  std::function<void(const TranscriptEntry&)> sink_;
  uint64_t rng_;

  // Time and the two line directions.
  bool started_ = false;
  int64_t originNs_ = 0;
  int64_t lastCallNs_ = 0;
  uint32_t lastBaud_ = 0;
  std::vector<InByte> inQueue_;  // programmer's bytes not yet taken, by arrival
  size_t inHead_ = 0;
  int64_t inLineFreeNs_ = 0;       // programmer-to-receiver line busy until
  std::vector<OutByte> outQueue_;  // receiver's bytes not yet at the programmer
  size_t outHead_ = 0;
  int64_t outLineFreeNs_ = 0;     // receiver-to-programmer line busy until
  std::vector<uint8_t> arrived_;  // at the programmer's end, not yet read
  size_t arrivedHead_ = 0;
  int takenCount_ = 0;  // programmer's bytes taken at the right rate

  // Normal firmware.
  int64_t nextSentenceNs_ = 0;
  int sentenceIndex_ = 0;
  std::string line_;  // the programmer's sentence being collected
  bool lineOpen_ = false;

  // Loader parsing.
  bool synced_ = false;
  Parse parse_ = Parse::kIdle;
  int dots_ = 0;
  size_t match_ = 0;
  std::vector<uint8_t> field_;  // header or block head bytes collected
  uint32_t blockAddress_ = 0;
  uint32_t blockLeft_ = 0;

  // The image being programmed.
  size_t currentImage_ = 0;  // index into images_
  std::vector<uint8_t> staged_;
  uint32_t nextChunk_ = 0;  // image offset of the next chunk to ask for
  Request request_;
  bool requestLive_ = false;
  bool outsidePending_ = false;
};

#endif  // VELMORA_SIM_RECEIVER_MODEL_H_
