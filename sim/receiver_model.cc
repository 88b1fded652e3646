#include "sim/receiver_model.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t kNsPerMs = 1'000'000;
constexpr uint32_t kAppAddress = 0x00010000;
constexpr uint32_t kAppCrcStart = 512;
constexpr uint32_t kOutsideSpan = 16;          // bytes asked for by the outside-image request
constexpr uint32_t kGarbleMask = 0x01A50000;   // flipped into both addresses of a garbled request
constexpr uint32_t kLargestImage = 64u << 20;  // longer headers are refused with "PF"
constexpr size_t kProgrammerBuffer = 4096;     // the programmer's input buffer; overruns drop bytes
constexpr size_t kLongestSentence = 99;

const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Drops the consumed front of a queue once it is large, so that long runs do
// not grow memory without bound.
template <typename T>
void Compact(std::vector<T>& queue, size_t& head) {
  if (head > 4096 && head * 2 > queue.size()) {
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(head));
    head = 0;
  }
}

}  // namespace

uint32_t ReceiverModel::ImageCrc(const uint8_t* data, size_t count) {
  const auto& table = CrcTable();
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) reg = (reg >> 8) ^ table[(reg ^ data[i]) & 0xFF];
  return reg;
}

ReceiverModel::ReceiverModel(ReceiverConfig config) : config_(std::move(config)) {
  if (config_.requestSize == 0) config_.requestSize = 1;
  if (config_.sentencePeriodMs <= 0) config_.sentencePeriodMs = 1;
  rng_ = 0x9E3779B97F4A7C15ull ^ config_.seed;
  if (config_.startInLoader) {
    mode_ = Mode::kLoader;
    loaderBaud_ = config_.loaderBaud;
  }
  outsidePending_ = config_.faults.requestOutsideImage != Faults::Outside::kNone;
}

void ReceiverModel::reboot() {
  inQueue_.clear();
  inHead_ = 0;
  outQueue_.clear();
  outHead_ = 0;
  arrived_.clear();
  arrivedHead_ = 0;
  inLineFreeNs_ = outLineFreeNs_ = lastCallNs_;
  restartFirmware(lastCallNs_);
}

// The firmware starts again at `atNs`, its first sentence then: the loader's
// state is gone, the line as it was.
void ReceiverModel::restartFirmware(int64_t atNs) {
  mode_ = Mode::kFirmware;
  loaderBaud_ = 0;
  silent_ = false;
  nextSentenceNs_ = atNs;
  line_.clear();
  lineOpen_ = false;
  synced_ = false;
  parse_ = Parse::kIdle;
  field_.clear();
  staged_.clear();
  requestLive_ = false;
}

// ---------------------------------------------------------------------------
// Time and the line.

void ReceiverModel::receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) {
  const int64_t nowNs = nowMs * kNsPerMs;
  advance(nowNs, baud);
  for (size_t i = 0; i < count; ++i) {
    int64_t at = nowNs;
    if (config_.lineTiming) {
      at = std::max(inLineFreeNs_, nowNs) + byteNs(baud);
      inLineFreeNs_ = at;
    }
    inQueue_.push_back({at, baud, data[i]});
  }
  runUntil(nowNs);
  deliver(nowNs, true, baud);
}

size_t ReceiverModel::transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) {
  advance(nowMs * kNsPerMs, baud);
  const size_t n = std::min(count, arrived_.size() - arrivedHead_);
  if (n > 0) std::memcpy(buffer, arrived_.data() + arrivedHead_, n);
  arrivedHead_ += n;
  Compact(arrived_, arrivedHead_);
  return n;
}

int64_t ReceiverModel::nextByteMs(int64_t nowMs) const {
  if (!started_ || arrivedHead_ < arrived_.size()) return nowMs + 1;
  int64_t nextNs = INT64_MAX;
  if (outHead_ < outQueue_.size()) nextNs = outQueue_[outHead_].atNs;
  if (inHead_ < inQueue_.size()) nextNs = std::min(nextNs, inQueue_[inHead_].atNs);
  if (mode_ == Mode::kFirmware && config_.emitSentences && !lineGone_)
    nextNs = std::min(nextNs, nextSentenceNs_);
  if (mode_ == Mode::kDone && config_.restartAfterExMs > 0)
    nextNs = std::min(nextNs, exAtNs_ + int64_t{config_.restartAfterExMs} * kNsPerMs);
  if (nextNs == INT64_MAX) return INT64_MAX;
  // The first whole millisecond at or after it; never before the next one.
  return std::max(nowMs + 1, (nextNs + kNsPerMs - 1) / kNsPerMs);
}

// Brings the model up to `nowNs`. Bytes that reached the programmer since the
// last call were read at the rate of that call; the programmer's new rate
// applies from this call's time on.
void ReceiverModel::advance(int64_t nowNs, uint32_t baud) {
  if (!started_) {
    started_ = true;
    originNs_ = nowNs;
    lastCallNs_ = nowNs;
    lastBaud_ = baud;
    nextSentenceNs_ = nowNs;
    inLineFreeNs_ = nowNs;
    outLineFreeNs_ = nowNs;
  }
  runUntil(nowNs);
  deliver(nowNs, false, lastBaud_);
  lastBaud_ = baud;
  lastCallNs_ = nowNs;
  deliver(nowNs, true, baud);
}

// Runs the receiver's events (arrivals of the programmer's bytes, sentence
// times, the restart after "EX") in time order up to and including `nowNs`.
void ReceiverModel::runUntil(int64_t nowNs) {
  for (;;) {
    const bool haveByte = inHead_ < inQueue_.size();
    const bool sentencesDue = mode_ == Mode::kFirmware && config_.emitSentences && !lineGone_;
    const int64_t byteAt = haveByte ? inQueue_[inHead_].atNs : INT64_MAX;
    const int64_t sentenceAt = sentencesDue ? nextSentenceNs_ : INT64_MAX;
    const int64_t restartAt = mode_ == Mode::kDone && config_.restartAfterExMs > 0
                                  ? exAtNs_ + int64_t{config_.restartAfterExMs} * kNsPerMs
                                  : INT64_MAX;
    if (std::min({byteAt, sentenceAt, restartAt}) > nowNs) break;
    if (restartAt != INT64_MAX && restartAt <= byteAt) {
      restartFirmware(restartAt);
    } else if (byteAt <= sentenceAt) {
      const InByte in = inQueue_[inHead_++];
      takeByte(in.atNs, in.baud, in.byte);
    } else {
      // A sentence that would start while the previous one is still on the
      // line is skipped, as a receiver drops output it has no time for.
      if (!config_.lineTiming || outLineFreeNs_ <= sentenceAt) emitSentence(sentenceAt);
      nextSentenceNs_ += int64_t{config_.sentencePeriodMs} * kNsPerMs;
    }
  }
  Compact(inQueue_, inHead_);
}

// Hands the receiver's bytes that have reached the programmer (before
// `upToNs`, or also at it when `inclusive`) to the programmer's input, read at
// `baud`.
void ReceiverModel::deliver(int64_t upToNs, bool inclusive, uint32_t baud) {
  using Fate = TranscriptEntry::Fate;
  while (outHead_ < outQueue_.size()) {
    const OutByte& out = outQueue_[outHead_];
    if (out.atNs > upToNs || (!inclusive && out.atNs == upToNs)) break;
    TranscriptEntry entry{out.atNs / 1000, out.baud, TranscriptEntry::Direction::kToProgrammer,
                          Fate::kTaken,    out.byte, out.byte};
    if (out.baud != baud) {
      const uint32_t r = nextRandom();
      if (r & 1) {
        entry.fate = Fate::kLost;
      } else {
        entry.fate = Fate::kNoise;
        entry.delivered = static_cast<uint8_t>(0x80 | ((r >> 8) & 0x7F));
      }
    }
    if (entry.fate != Fate::kLost) {
      if (arrived_.size() - arrivedHead_ < kProgrammerBuffer) {
        arrived_.push_back(entry.delivered);
      } else {
        entry.fate = Fate::kLost;
      }
    }
    record(entry);
    ++outHead_;
  }
  Compact(outQueue_, outHead_);
}

void ReceiverModel::send(int64_t atNs, uint32_t baud, const uint8_t* data, size_t count) {
  if (silent_ || lineGone_) return;
  for (size_t i = 0; i < count; ++i) {
    int64_t at = atNs;
    if (config_.lineTiming) {
      at = std::max(outLineFreeNs_, atNs) + byteNs(baud);
      outLineFreeNs_ = at;
    }
    outQueue_.push_back({at, baud, data[i]});
  }
}

void ReceiverModel::sendText(int64_t atNs, const std::string& text) {
  send(atNs, rate(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void ReceiverModel::record(const TranscriptEntry& entry) {
  if (config_.keepTranscript) transcript_.push_back(entry);
  if (sink_) sink_(entry);
}

uint32_t ReceiverModel::nextRandom() {
  // splitmix64: small, and the same on every platform.
  uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
}

int64_t ReceiverModel::byteNs(uint32_t baud) const {
  return baud == 0 ? 0 : int64_t{10'000'000'000} / baud;
}

uint32_t ReceiverModel::rate() const {
  return mode_ == Mode::kFirmware ? config_.firmwareBaud : loaderBaud_;
}

// One of the programmer's bytes reaches the receiver.
void ReceiverModel::takeByte(int64_t atNs, uint32_t baud, uint8_t byte) {
  using Fate = TranscriptEntry::Fate;
  TranscriptEntry entry{atNs / 1000,    baud, TranscriptEntry::Direction::kToReceiver,
                        Fate::kIgnored, byte, byte};
  if (!lineGone_ && !silent_ && baud == rate()) {
    ++takenCount_;
    const int n = config_.faults.dropEveryNthByte;
    if (n <= 0 || takenCount_ % n != 0) entry.fate = Fate::kTaken;
  }
  record(entry);
  if (entry.fate != Fate::kTaken) return;
  if (mode_ == Mode::kFirmware) {
    firmwareByte(atNs, byte);
  } else {
    loaderByte(atNs, byte);
  }
}

// ---------------------------------------------------------------------------
// Normal firmware.

// Collects the programmer's "$" lines and takes "$PQVRX601,<rate>*" followed
// by two checksum characters (not checked) as the order to run the loader.
void ReceiverModel::firmwareByte(int64_t atNs, uint8_t byte) {
  if (byte == '$') {
    line_.clear();
    line_.push_back('$');
    lineOpen_ = true;
    return;
  }
  if (!lineOpen_) return;
  if (byte < 0x20 || byte > 0x7E || line_.size() >= kLongestSentence) {
    lineOpen_ = false;
    return;
  }
  line_ += static_cast<char>(byte);
  const size_t star = line_.find('*');
  if (star == std::string::npos || line_.size() != star + 3) return;
  lineOpen_ = false;
  static const std::string kPrefix = "$PQVRX601,";
  if (line_.compare(0, kPrefix.size(), kPrefix) != 0) return;
  const std::string digits = line_.substr(kPrefix.size(), star - kPrefix.size());
  if (digits.empty() || digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return;
  const uint32_t newRate = static_cast<uint32_t>(std::stoul(digits));
  if (newRate == 0) return;
  baudSwitches_.push_back(newRate);
  mode_ = Mode::kLoader;
  loaderBaud_ = newRate;
  synced_ = false;
  parse_ = Parse::kIdle;
  if (const StageFault* f = stageFault(Stage::kSwitch, static_cast<int>(baudSwitches_.size())))
    strike(atNs, f->action);
}

void ReceiverModel::emitSentence(int64_t atNs) {
  const StageFault* fault = stageFault(Stage::kDetect, ++sentenceCount_);
  if (fault && fault->action == Action::kSilent) silent_ = true;
  if (fault && fault->action == Action::kGone) lineGone_ = true;
  const int64_t ms = (atNs - originNs_) / kNsPerMs;
  const int64_t dayMs = (12 * 3600 + 34 * 60 + 56) * int64_t{1000} + ms;
  const int hh = static_cast<int>(dayMs / 3'600'000 % 24);
  const int mm = static_cast<int>(dayMs / 60'000 % 60);
  const int ss = static_cast<int>(dayMs / 1000 % 60);
  const int cc = static_cast<int>(dayMs / 10 % 100);
  const int drift = static_cast<int>(ms / 1000 % 10000);  // slow walk in the last digits
  char body[96];
  switch (sentenceIndex_++ % 4) {
    case 0:
      std::snprintf(body, sizeof body,
                    "GPGGA,%02d%02d%02d.%02d,4807.%04d,N,01131.%04d,E,1,08,0.9,545.4,M,46.9,M,,",
                    hh, mm, ss, cc, (380 + drift) % 10000, (324 + 3 * drift) % 10000);
      break;
    case 1:
      std::snprintf(body, sizeof body,
                    "GPRMC,%02d%02d%02d.%02d,A,4807.%04d,N,01131.%04d,E,0.02,31.66,230394,,,A", hh,
                    mm, ss, cc, (380 + drift) % 10000, (324 + 3 * drift) % 10000);
      break;
    case 2:
      std::snprintf(body, sizeof body, "GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,1.8,0.9,1.5");
      break;
    default:
      std::snprintf(body, sizeof body, "GPGSV,2,%d,08,%s", (sentenceIndex_ / 4) % 2 + 1,
                    (sentenceIndex_ / 4) % 2
                        ? "24,64,084,46,25,11,040,30,29,33,257,42,31,41,161,45"
                        : "04,36,061,41,05,23,212,38,09,52,140,44,12,17,312,35");
      break;
  }
  uint8_t sum = 0;
  for (const char* p = body; *p; ++p) sum ^= static_cast<uint8_t>(*p);
  char sentence[128];
  std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, sum);
  if (fault && fault->action == Action::kNoise) {
    sendNoise(atNs, std::strlen(sentence));
  } else {
    sendText(atNs, sentence);
  }
}

// ---------------------------------------------------------------------------
// Loader: frames by content.

void ReceiverModel::loaderByte(int64_t atNs, uint8_t byte) {
  // A frame the programmer stopped sending in the middle of (its port went
  // away) is given up after the frame time-out, as a loader does, so that
  // the next programmer's sync string is read as one.
  if (config_.frameTimeoutMs > 0 && parse_ != Parse::kIdle &&
      atNs - lastLoaderByteNs_ > int64_t{config_.frameTimeoutMs} * kNsPerMs)
    parse_ = Parse::kIdle;
  lastLoaderByteNs_ = atNs;
  switch (parse_) {
    case Parse::kIdle:
      idleByte(atNs, byte);
      return;
    case Parse::kDots:
      if (byte == '.') {
        ++dots_;
      } else if (byte == 'Q' && dots_ >= 8) {
        parse_ = Parse::kSyncV;
      } else if (byte == 'S') {
        parse_ = Parse::kHeaderP;
      } else if (byte == 'B') {
        parse_ = Parse::kBlockT;
      } else {
        parse_ = Parse::kIdle;
        idleByte(atNs, byte);
      }
      return;
    case Parse::kSyncV:
      parse_ = Parse::kIdle;
      if (byte == 'V') {
        sync(atNs);
      } else {
        idleByte(atNs, byte);
      }
      return;
    case Parse::kHeaderP:
    case Parse::kBlockT:
      if (byte == (parse_ == Parse::kHeaderP ? 'P' : 'T')) {
        parse_ = parse_ == Parse::kHeaderP ? Parse::kHeader : Parse::kBlockHead;
        field_.clear();
      } else {
        parse_ = Parse::kIdle;
        idleByte(atNs, byte);
      }
      return;
    case Parse::kHeader:
      field_.push_back(byte);
      if (field_.size() == 16) {
        parse_ = Parse::kIdle;
        headerTaken(atNs);
      }
      return;
    case Parse::kBlockHead:
      field_.push_back(byte);
      if (field_.size() == 5) {
        blockAddress_ = ReadBe32(field_.data());
        blockLeft_ = field_[4] == 0 ? 256 : field_[4];
        parse_ = Parse::kBlockData;
      }
      return;
    case Parse::kBlockData:
      blockByte(blockAddress_++, byte);
      if (--blockLeft_ == 0) {
        parse_ = Parse::kIdle;
        blockDone(atNs);
      }
      return;
    case Parse::kExX:
      parse_ = Parse::kIdle;
      if (byte == 'X') {
        ++exCount_;
        mode_ = Mode::kDone;
        exAtNs_ = atNs;
      } else {
        idleByte(atNs, byte);
      }
      return;
    case Parse::kAbort:
      if (byte == "ABORT"[match_]) {
        if (++match_ == 5) {
          parse_ = Parse::kIdle;
          ++abortCount_;
          if (mode_ != Mode::kDone) {
            mode_ = Mode::kLoader;
            synced_ = false;
            requestLive_ = false;
          }
        }
      } else {
        parse_ = Parse::kIdle;
        idleByte(atNs, byte);
      }
      return;
  }
}

// A byte outside any frame: only the first byte of a frame means anything.
void ReceiverModel::idleByte(int64_t /*atNs*/, uint8_t byte) {
  if (byte == '.') {
    parse_ = Parse::kDots;
    dots_ = 1;
  } else if (byte == 'E') {
    parse_ = Parse::kExX;
  } else if (byte == 'A') {
    parse_ = Parse::kAbort;
    match_ = 1;
  }
}

void ReceiverModel::sync(int64_t atNs) {
  if (mode_ == Mode::kDone) return;
  // A fault here leaves the loader as it was: the sync is not taken.
  if (const StageFault* f = stageFault(Stage::kSync, ++syncSeen_)) {
    strike(atNs, f->action);
    return;
  }
  // A sync in the middle of an image starts over: that image is dropped.
  mode_ = Mode::kLoader;
  requestLive_ = false;
  synced_ = true;
  ++syncCount_;
  reply(atNs, "RX", nullptr, 0);
}

void ReceiverModel::headerTaken(int64_t atNs) {
  if (mode_ == Mode::kDone || !synced_) return;
  ImageRecord rec;
  rec.address = ReadBe32(field_.data());
  rec.length = ReadBe32(field_.data() + 4);
  rec.markerAddress = ReadBe32(field_.data() + 8);
  rec.crc = ReadBe32(field_.data() + 12);
  images_.push_back(rec);
  currentImage_ = images_.size() - 1;
  ++headerCount_;
  mode_ = Mode::kLoader;
  requestLive_ = false;
  if (const StageFault* sf = stageFault(Stage::kHeader, headerCount_)) {
    if (sf->action == Action::kPf)
      refuseImage(atNs);
    else
      strike(atNs, sf->action);
    return;
  }
  const Faults& f = config_.faults;
  if (f.silentAfterHeader > 0 && headerCount_ >= f.silentAfterHeader) {
    silent_ = true;
    return;
  }
  if (f.bootWriteProtected && rec.address == 0) return;
  if (rec.length > kLargestImage || rec.address > UINT32_MAX - rec.length) {
    finishImage(atNs);  // cannot be staged: refused
    return;
  }
  mode_ = Mode::kProgramming;
  staged_.assign(rec.length, 0xFF);
  nextChunk_ = 0;
  if (rec.length > 0 && outsidePending_) {
    outsidePending_ = false;
    const bool below =
        f.requestOutsideImage == Faults::Outside::kBelowStart && rec.address >= kOutsideSpan;
    const uint32_t start = below ? rec.address - kOutsideSpan : rec.address + rec.length;
    request_ = {start, kOutsideSpan, 0, std::vector<bool>(kOutsideSpan, false)};
    issueRequest(atNs, start, start + kOutsideSpan - 1);
    return;
  }
  nextRequest(atNs);
}

// Asks for the next chunk of the image, or ends the image when all has come.
void ReceiverModel::nextRequest(int64_t atNs) {
  const ImageRecord& rec = images_[currentImage_];
  if (nextChunk_ >= rec.length) {
    finishImage(atNs);
    return;
  }
  const uint32_t len = std::min(config_.requestSize, rec.length - nextChunk_);
  const uint32_t start = rec.address + nextChunk_;
  nextChunk_ += len;
  request_ = {start, len, 0, std::vector<bool>(len, false)};
  // The programmer leaves the last byte of a span of 1 mod 256 bytes unsent;
  // one address more makes every needed byte come.
  const uint32_t end = len % 256 == 1 ? start + len : start + len - 1;
  issueRequest(atNs, start, end);
}

void ReceiverModel::issueRequest(int64_t atNs, uint32_t start, uint32_t end) {
  const Faults& f = config_.faults;
  const int n = ++requestCount_;
  requestLive_ = true;
  if (f.okInsteadOfRequest == n) {
    reply(atNs, "OK", nullptr, 0);
  } else {
    if (f.garbledRequest == n) {
      start ^= kGarbleMask;
      end ^= kGarbleMask;
    }
    uint8_t span[8];
    PutBe32(span, start);
    PutBe32(span + 4, end);
    reply(atNs, "BR", span, sizeof span);
  }
  if (f.silentAfterRequest == n) silent_ = true;
  if (f.lineGone == n) lineGone_ = true;
}

void ReceiverModel::blockByte(uint32_t address, uint8_t byte) {
  if (mode_ != Mode::kProgramming) return;
  const ImageRecord& rec = images_[currentImage_];
  const uint32_t offset = address - rec.address;
  if (address >= rec.address && offset < rec.length) staged_[offset] = byte;
  if (!requestLive_) return;
  const uint32_t i = address - request_.start;
  if (address >= request_.start && i < request_.need && !request_.have[i]) {
    request_.have[i] = true;
    ++request_.got;
  }
}

// A block ended: once the request has all it needs, the loader moves on.
void ReceiverModel::blockDone(int64_t atNs) {
  if (mode_ != Mode::kProgramming || !requestLive_) return;
  if (!request_.faultChecked && uint64_t{request_.got} * 2 >= request_.need) {
    request_.faultChecked = true;
    if (const StageFault* f = stageFault(Stage::kRequest, requestCount_)) {
      if (f->action == Action::kPf) {
        refuseImage(atNs);
        return;
      }
      strike(atNs, f->action);
      if (f->action == Action::kSilent || f->action == Action::kGone) return;
      request_.replyDropped = true;
    }
  }
  if (request_.got < request_.need) return;
  requestLive_ = false;
  if (request_.replyDropped) {
    mode_ = Mode::kLoader;  // the image is given up without a word
    staged_.clear();
    return;
  }
  nextRequest(atNs);
}

void ReceiverModel::finishImage(int64_t atNs) {
  ImageRecord& rec = images_[currentImage_];
  const uint32_t crcStart = rec.address == kAppAddress ? kAppCrcStart : 0;
  bool ok = rec.length <= kLargestImage && rec.address <= UINT32_MAX - rec.length;
  if (ok) {
    const uint32_t crc = rec.length > crcStart
                             ? ImageCrc(staged_.data() + crcStart, rec.length - crcStart)
                             : 0xFFFFFFFFu;
    ok = crc == rec.crc &&
         !(config_.faults.failSlotAddress && *config_.faults.failSlotAddress == rec.address);
  }
  if (ok && config_.keepFlash) {
    std::vector<uint8_t>& flash = erasedFlash();
    for (uint32_t i = 0; i < rec.length && rec.address + i < kFlashSize; ++i)
      flash[rec.address + i] = staged_[i];
  }
  rec.passed = ok;
  rec.failed = !ok;
  staged_.clear();
  mode_ = Mode::kLoader;
  requestLive_ = false;
  uint8_t extra[8];
  PutBe32(extra, rec.address);
  PutBe32(extra + 4, rec.length);
  reply(atNs, ok ? "PC" : "PF", extra, sizeof extra);
  if (!ok) return;
  if (const StageFault* f = stageFault(Stage::kBetween, ++passCount_)) {
    if (f->action == Action::kPf)
      reply(atNs, "PF", extra, sizeof extra);
    else
      strike(atNs, f->action);
  }
}

// A stage fault's action where it is the same at every stage: silence, the
// line going away, a wrong token or 16 noise bytes. "PF" differs by stage and
// is left to the caller.
void ReceiverModel::strike(int64_t atNs, Action action) {
  switch (action) {
    case Action::kSilent:
      silent_ = true;
      break;
    case Action::kGone:
      lineGone_ = true;
      break;
    case Action::kOk:
      reply(atNs, "OK", nullptr, 0);
      break;
    case Action::kRx:
      reply(atNs, "RX", nullptr, 0);
      break;
    case Action::kNoise:
      sendNoise(atNs, 16);
      break;
    case Action::kPf:
      break;
  }
}

// The image being taken is refused with "PF" before all of it has come; it
// never reaches flash.
void ReceiverModel::refuseImage(int64_t atNs) {
  ImageRecord& rec = images_[currentImage_];
  rec.passed = false;
  rec.failed = true;
  staged_.clear();
  mode_ = Mode::kLoader;
  requestLive_ = false;
  uint8_t extra[8];
  PutBe32(extra, rec.address);
  PutBe32(extra + 4, rec.length);
  reply(atNs, "PF", extra, sizeof extra);
}

// The stage fault for the `count`th event of `stage`, if one is placed there
// and means something; a kDetect one holds from its sentence on.
const StageFault* ReceiverModel::stageFault(Stage stage, int count) const {
  for (const StageFault& f : config_.faults.stages) {
    if (f.stage != stage || !IsMeaningful(f.stage, f.action)) continue;
    if (f.nth == count || (stage == Stage::kDetect && f.nth > 0 && f.nth <= count)) return &f;
  }
  return nullptr;
}

void ReceiverModel::sendNoise(int64_t atNs, size_t count) {
  std::vector<uint8_t> noise(count);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(0x80 | (nextRandom() & 0x7F));
  send(atNs, rate(), noise.data(), noise.size());
}

// A reply token with its bytes, after free text and noise when that fault is on.
void ReceiverModel::reply(int64_t atNs, const std::string& token, const uint8_t* extra,
                          size_t extraCount) {
  if (config_.faults.freeTextBetweenReplies) {
    // Lower-case text and noise: nothing in it pairs into a token.
    sendText(atNs, "FT ldr 3.07 flash 2m ");
    const uint8_t noise[3] = {static_cast<uint8_t>(0x80 | (nextRandom() & 0x7F)), 0xFE,
                              static_cast<uint8_t>(0x80 | (nextRandom() & 0x7F))};
    send(atNs, rate(), noise, sizeof noise);
  }
  sendText(atNs, token);
  if (extraCount > 0) send(atNs, rate(), extra, extraCount);
}
