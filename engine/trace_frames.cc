#include "engine/trace_frames.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <utility>

#include "engine/protocol.h"

namespace {

const std::string kSync = kSyncString;
const std::string kSwitchStart = kSwitchSentenceHead;
const std::string kSwitchEnd = kSwitchSentenceTail;
// The longest rate a switch sentence is read with.
constexpr size_t kRateDigits = 10;

enum class Cut { kNo, kNeedMore, kFull };

// Whether `p` begins with `fixed` and holds `total` bytes.
Cut Match(std::string_view p, std::string_view fixed, size_t total) {
  if (p.size() < fixed.size())
    return fixed.compare(0, p.size(), p) == 0 ? Cut::kNeedMore : Cut::kNo;
  if (p.compare(0, fixed.size(), fixed) != 0) return Cut::kNo;
  return p.size() >= total ? Cut::kFull : Cut::kNeedMore;
}

uint32_t U32(std::string_view s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

std::string Hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, v);
  return text;
}

std::string HexBytes(const std::string& bytes) {
  std::string s;
  char text[4];
  for (unsigned char b : bytes) {
    std::snprintf(text, sizeof text, "%02X", b);
    if (!s.empty()) s += ' ';
    s += text;
  }
  return s;
}

std::string Escaped(const std::string& bytes) {
  std::string s;
  char text[8];
  for (unsigned char b : bytes) {
    if (b == '\\') {
      s += "\\\\";
    } else if (b >= 0x20 && b < 0x7F) {
      s += static_cast<char>(b);
    } else {
      std::snprintf(text, sizeof text, "\\x%02X", b);
      s += text;
    }
  }
  return s;
}

bool IsControl(uint8_t b) {
  return !(b >= 0x20 && b <= 0x7E) && !(b >= 0x09 && b <= 0x0D);
}

bool IsReplyToken(const std::string& t) {
  return t == kSyncedReply || t == kOkReply || t == kRequestReply || t == kCompleteReply ||
         t == kFailedReply || t == kFreeTextReply;
}

}  // namespace

FrameDecoder::FrameDecoder(std::function<void(const ProtocolFrame&)> out) : out_(std::move(out)) {}

void FrameDecoder::fromProgrammer(int64_t time, const std::string& bytes) {
  pending_ += bytes;
  pendingTimes_.insert(pendingTimes_.end(), bytes.size(), time);
  cutFrames(false);
}

void FrameDecoder::fromReceiver(int64_t time, const std::string& bytes) {
  for (unsigned char b : bytes) receiverByte(time, b);
}

void FrameDecoder::finish() {
  cutFrames(true);
  endReceiverFrame();
  flush();
}

void FrameDecoder::cutFrames(bool atEnd) {
  // Frames are cut from `head` on, and what was cut is dropped once at the
  // end: a record of many bytes that form no frame costs time in proportion
  // to its length.
  size_t head = 0;
  while (head < pending_.size()) {
    const std::string_view p = std::string_view(pending_).substr(head);
    const int64_t time = pendingTimes_[head];
    size_t used = 0;
    bool needMore = false;
    auto consider = [&](Cut cut, size_t total) {
      if (cut == Cut::kFull) used = total;
      if (cut == Cut::kNeedMore) needMore = true;
      return cut == Cut::kFull;
    };
    // A frame of the programmer's, cut whole from the front of `p`.
    auto frame = [&](ProtocolFrame::Kind kind, std::string text = {}) {
      ProtocolFrame f;
      f.kind = kind;
      f.time = time;
      f.endTime = pendingTimes_[head + used - 1];
      f.text = std::move(text);
      return f;
    };
    if (consider(Match(p, kSync, kSync.size()), kSync.size())) {
      emit(frame(ProtocolFrame::Kind::kSync));
    } else if (consider(Match(p, kHeaderTag, kHeaderBytes), kHeaderBytes)) {
      ProtocolFrame f = frame(ProtocolFrame::Kind::kHeader);
      for (size_t i = 0; i < 4; ++i) f.values[i] = U32(p, 3 + 4 * i);
      emit(f);
    } else if (Match(p, kBlockTag, kBlockHeadBytes) == Cut::kFull) {
      const uint32_t address = U32(p, 3);
      const uint32_t n =
          static_cast<uint8_t>(p[7]) == 0 ? kLargestBlock : static_cast<uint8_t>(p[7]);
      if (consider(p.size() >= kBlockHeadBytes + n ? Cut::kFull : Cut::kNeedMore,
                   kBlockHeadBytes + n)) {
        if (run_.count == 0 || address != run_.next) {
          flush();
          run_.time = time;
          run_.first = address;
        }
        run_.endTime = pendingTimes_[head + used - 1];
        run_.next = address + n;
        run_.count += 1;
        run_.bytes += n;
      }
    } else if (Match(p, kBlockTag, kBlockHeadBytes) == Cut::kNeedMore) {
      needMore = true;
    } else if (consider(Match(p, kExitCommand, sizeof kExitCommand - 1), sizeof kExitCommand - 1)) {
      emit(frame(ProtocolFrame::Kind::kExit));
    } else if (consider(Match(p, kAbortCommand, sizeof kAbortCommand - 1),
                        sizeof kAbortCommand - 1)) {
      emit(frame(ProtocolFrame::Kind::kAbort));
    } else {
      const Cut start = Match(p, kSwitchStart, kSwitchStart.size());
      if (start == Cut::kNeedMore) needMore = true;
      if (start == Cut::kFull) {
        const size_t digitsEnd =
            std::min(p.find_first_not_of("0123456789", kSwitchStart.size()), p.size());
        const size_t digits = digitsEnd - kSwitchStart.size();
        if (digits <= kRateDigits) {
          if (digitsEnd == p.size()) {
            needMore = true;
          } else if (digits > 0 &&
                     consider(Match(p.substr(digitsEnd), kSwitchEnd, kSwitchEnd.size()),
                              digitsEnd + kSwitchEnd.size())) {
            emit(frame(ProtocolFrame::Kind::kSwitch,
                       std::string(p.substr(kSwitchStart.size(), digits))));
          }
        }
      }
    }
    if (used == 0) {
      if (needMore && !atEnd) break;
      // No frame begins here: the byte is kept as it is.
      if (sentUnknown_.text.empty()) sentUnknown_.time = time;
      sentUnknown_.endTime = time;
      sentUnknown_.text += p[0];
      used = 1;
    }
    head += used;
  }
  pending_.erase(0, head);
  pendingTimes_.erase(pendingTimes_.begin(), pendingTimes_.begin() + static_cast<long>(head));
}

void FrameDecoder::receiverByte(int64_t time, uint8_t byte) {
  auto reply = [&](const std::string& token, int64_t start) {
    ProtocolFrame f;
    f.kind = ProtocolFrame::Kind::kReply;
    f.fromProgrammer = false;
    f.time = start;
    f.endTime = time;
    f.text = token;
    return f;
  };
  if (mode_ == Mode::kValues) {
    frame_ += static_cast<char>(byte);
    if (frame_.size() == 2 + kReplyValueBytes) {
      mode_ = Mode::kScan;
      ProtocolFrame f = reply(frame_.substr(0, 2), frameTime_);
      f.values[0] = U32(frame_, 2);
      f.values[1] = U32(frame_, 6);
      emit(f);
    }
    return;
  }
  if (mode_ == Mode::kSentence) {
    if (byte == '\n' || byte == kSentenceStart) {
      std::string text = frame_;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      mode_ = Mode::kScan;
      ProtocolFrame f;
      f.kind = ProtocolFrame::Kind::kSentence;
      f.fromProgrammer = false;
      f.time = frameTime_;
      f.endTime = time;
      f.text = std::move(text);
      emit(f);
      if (byte == kSentenceStart) receiverByte(time, byte);
    } else if (IsControl(byte)) {
      // Noise ends the sentence without completing it.
      frame_ += static_cast<char>(byte);
      endReceiverFrame();
      receivedUnknown_.endTime = time;
    } else {
      frame_ += static_cast<char>(byte);
    }
    return;
  }
  if (!freeText_ && byte == kSentenceStart) {
    mode_ = Mode::kSentence;
    frame_ = std::string(1, kSentenceStart);
    frameTime_ = time;
    prev_ = -1;
    return;
  }
  Held& holder = freeText_ ? ft_ : receivedUnknown_;
  if (prev_ >= 0 && byte != 0) {
    const std::string token{static_cast<char>(prev_), static_cast<char>(byte)};
    if (IsReplyToken(token)) {
      // The first letter is part of the reply, not of what was held before it.
      Held& had = prevInFreeText_ ? ft_ : receivedUnknown_;
      if (prevMark_ <= had.text.size()) had.text.resize(prevMark_);
      prev_ = -1;
      freeText_ = false;
      if (token == kSyncedReply || token == kOkReply) {
        emit(reply(token, prevTime_));
      } else if (token == kFreeTextReply) {
        flush();
        freeText_ = true;
        ftOpen_ = true;
        ft_.time = prevTime_;
        ft_.endTime = time;
        ft_.text.clear();
      } else {
        mode_ = Mode::kValues;
        frame_ = token;
        frameTime_ = prevTime_;
      }
      return;
    }
  }
  if (freeText_ && !ftOpen_) {
    ftOpen_ = true;
    ft_.time = time;
  }
  if (!freeText_ && holder.text.empty()) holder.time = time;
  holder.endTime = time;
  if (byte != 0) {
    prev_ = byte;
    prevTime_ = time;
    prevMark_ = holder.text.size();
    prevInFreeText_ = freeText_;
  }
  holder.text += static_cast<char>(byte);
}

void FrameDecoder::endReceiverFrame() {
  if (mode_ != Mode::kScan) {
    if (receivedUnknown_.text.empty()) receivedUnknown_.time = frameTime_;
    receivedUnknown_.text += frame_;
  }
  mode_ = Mode::kScan;
  frame_.clear();
  freeText_ = false;
  prev_ = -1;
}

void FrameDecoder::flush() {
  std::vector<ProtocolFrame> frames;
  auto held = [&](ProtocolFrame::Kind kind, bool fromProgrammer, const Held& h) {
    ProtocolFrame f;
    f.kind = kind;
    f.fromProgrammer = fromProgrammer;
    f.time = h.time;
    f.endTime = h.endTime;
    f.text = h.text;
    frames.push_back(std::move(f));
  };
  if (!sentUnknown_.text.empty()) held(ProtocolFrame::Kind::kBytes, true, sentUnknown_);
  if (!receivedUnknown_.text.empty()) held(ProtocolFrame::Kind::kBytes, false, receivedUnknown_);
  if (ftOpen_) held(ProtocolFrame::Kind::kFreeText, false, ft_);
  if (run_.count > 0) {
    ProtocolFrame f;
    f.kind = ProtocolFrame::Kind::kBlocks;
    f.time = run_.time;
    f.endTime = run_.endTime;
    f.values[0] = run_.first;
    f.values[1] = run_.count;
    f.values[2] = run_.bytes;
    frames.push_back(std::move(f));
  }
  std::stable_sort(frames.begin(), frames.end(),
                   [](const ProtocolFrame& a, const ProtocolFrame& b) { return a.time < b.time; });
  for (const ProtocolFrame& f : frames) out_(f);
  sentUnknown_.text.clear();
  receivedUnknown_.text.clear();
  ft_.text.clear();
  ftOpen_ = false;
  run_ = Run{};
  // A letter already written out is no longer held.
  prevMark_ = std::string::npos;
}

void FrameDecoder::emit(ProtocolFrame frame) {
  flush();
  out_(frame);
}

std::string FrameText(const ProtocolFrame& f) {
  using Kind = ProtocolFrame::Kind;
  switch (f.kind) {
    case Kind::kSync:
      return "sync";
    case Kind::kSwitch:
      return "switch " + f.text;
    case Kind::kHeader:
      return "header address " + Hex32(f.values[0]) + " length " + std::to_string(f.values[1]) +
             " marker " + Hex32(f.values[2]) + " crc " + Hex32(f.values[3]);
    case Kind::kBlocks:
      return "blocks " + Hex32(f.values[0]) + " count " + std::to_string(f.values[1]) + " bytes " +
             std::to_string(f.values[2]);
    case Kind::kExit:
      return kExitCommand;
    case Kind::kAbort:
      return kAbortCommand;
    case Kind::kReply:
      if (f.text == kSyncedReply || f.text == kOkReply) return f.text;
      return f.text + " " + Hex32(f.values[0]) + " " + Hex32(f.values[1]);
    case Kind::kFreeText:
      return std::string(kFreeTextReply) + " " + Escaped(f.text);
    case Kind::kSentence:
      return "sentence " + Escaped(f.text);
    case Kind::kBytes:
      return "bytes " + HexBytes(f.text);
  }
  return "";
}

TraceFrames::TraceFrames(std::function<void(const std::string&)> out)
    : out_(std::move(out)), decoder_([this](const ProtocolFrame& f) {
        out_(std::to_string(f.time) + (f.fromProgrammer ? " P>R " : " R>P ") + FrameText(f));
      }) {}

bool TraceFrames::addLine(const std::string& line) {
  if (line.empty() || line[0] == '#') return true;
  std::istringstream in(line);
  int64_t time = 0;
  std::string what;
  if (!(in >> time >> what)) return false;
  if (what == "P>R" || what == "R>P") {
    uint32_t baud = 0;
    size_t count = 0;
    if (!(in >> baud >> count) || count == 0) return false;
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
      std::string hex;
      if (!(in >> hex) || hex.size() != 2 ||
          hex.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return false;
      bytes += static_cast<char>(std::stoul(hex, nullptr, 16));
    }
    std::string text;
    if (!(in >> std::ws) || !std::getline(in, text) || text.size() != count + 2 ||
        text.front() != '|' || text.back() != '|')
      return false;
    if (what == "P>R") {
      decoder_.fromProgrammer(time, bytes);
    } else {
      decoder_.fromReceiver(time, bytes);
    }
    return true;
  }
  static const char* const kEvents[] = {"open",         "open-failed", "rate", "drain",
                                        "write-failed", "gone",        "close"};
  if (std::find(std::begin(kEvents), std::end(kEvents), what) == std::end(kEvents)) return false;
  if (what == "open" || what == "open-failed" || what == "close") {
    decoder_.finish();
  } else {
    decoder_.flush();
  }
  out_(line);
  return true;
}

void TraceFrames::finish() {
  decoder_.finish();
}
