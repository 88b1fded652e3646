#include "engine/trace_frames.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>
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
Cut Match(const std::string& p, const std::string& fixed, size_t total) {
  if (p.size() < fixed.size())
    return fixed.compare(0, p.size(), p) == 0 ? Cut::kNeedMore : Cut::kNo;
  if (p.compare(0, fixed.size(), fixed) != 0) return Cut::kNo;
  return p.size() >= total ? Cut::kFull : Cut::kNeedMore;
}

uint32_t U32(const std::string& s, size_t at) {
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

TraceFrames::TraceFrames(std::function<void(const std::string&)> out) : out_(std::move(out)) {}

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
      fromProgrammer(time, bytes);
    } else {
      for (unsigned char b : bytes) fromReceiver(time, b);
    }
    return true;
  }
  static const char* const kEvents[] = {"open",         "open-failed", "rate", "drain",
                                        "write-failed", "gone",        "close"};
  if (std::find(std::begin(kEvents), std::end(kEvents), what) == std::end(kEvents)) return false;
  if (what == "open" || what == "open-failed" || what == "close") {
    finish();
  } else {
    flushHeld();
  }
  out_(line);
  return true;
}

void TraceFrames::finish() {
  cutFrames(true);
  endReceiverFrame();
  flushHeld();
}

void TraceFrames::fromProgrammer(int64_t time, const std::string& bytes) {
  pending_ += bytes;
  pendingTimes_.insert(pendingTimes_.end(), bytes.size(), time);
  cutFrames(false);
}

void TraceFrames::cutFrames(bool atEnd) {
  while (!pending_.empty()) {
    const std::string& p = pending_;
    const int64_t time = pendingTimes_[0];
    size_t used = 0;
    bool needMore = false;
    auto consider = [&](Cut cut, size_t total) {
      if (cut == Cut::kFull) used = total;
      if (cut == Cut::kNeedMore) needMore = true;
      return cut == Cut::kFull;
    };
    if (consider(Match(p, kSync, kSync.size()), kSync.size())) {
      emit(time, "P>R", "sync");
    } else if (consider(Match(p, kHeaderTag, kHeaderBytes), kHeaderBytes)) {
      emit(time, "P>R",
           "header address " + Hex32(U32(p, 3)) + " length " + std::to_string(U32(p, 7)) +
               " marker " + Hex32(U32(p, 11)) + " crc " + Hex32(U32(p, 15)));
    } else if (Match(p, kBlockTag, kBlockHeadBytes) == Cut::kFull) {
      const uint32_t address = U32(p, 3);
      const uint32_t n =
          static_cast<uint8_t>(p[7]) == 0 ? kLargestBlock : static_cast<uint8_t>(p[7]);
      if (consider(p.size() >= kBlockHeadBytes + n ? Cut::kFull : Cut::kNeedMore,
                   kBlockHeadBytes + n)) {
        if (run_.count == 0 || address != run_.next) {
          flushHeld();
          run_.time = time;
          run_.first = address;
        }
        run_.next = address + n;
        run_.count += 1;
        run_.bytes += n;
      }
    } else if (Match(p, kBlockTag, kBlockHeadBytes) == Cut::kNeedMore) {
      needMore = true;
    } else if (consider(Match(p, kExitCommand, sizeof kExitCommand - 1), sizeof kExitCommand - 1)) {
      emit(time, "P>R", kExitCommand);
    } else if (consider(Match(p, kAbortCommand, sizeof kAbortCommand - 1),
                        sizeof kAbortCommand - 1)) {
      emit(time, "P>R", kAbortCommand);
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
            emit(time, "P>R", "switch " + p.substr(kSwitchStart.size(), digits));
          }
        }
      }
    }
    if (used == 0) {
      if (needMore && !atEnd) return;
      // No frame begins here: the byte is shown as it is.
      if (sentUnknown_.text.empty()) sentUnknown_.time = time;
      sentUnknown_.text += p[0];
      used = 1;
    }
    pending_.erase(0, used);
    pendingTimes_.erase(pendingTimes_.begin(), pendingTimes_.begin() + static_cast<long>(used));
  }
}

void TraceFrames::fromReceiver(int64_t time, uint8_t byte) {
  if (mode_ == Mode::kValues) {
    frame_ += static_cast<char>(byte);
    if (frame_.size() == 2 + kReplyValueBytes) {
      mode_ = Mode::kScan;
      emit(frameTime_, "R>P",
           frame_.substr(0, 2) + " " + Hex32(U32(frame_, 2)) + " " + Hex32(U32(frame_, 6)));
    }
    return;
  }
  if (mode_ == Mode::kSentence) {
    if (byte == '\n' || byte == kSentenceStart) {
      std::string text = frame_;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      mode_ = Mode::kScan;
      emit(frameTime_, "R>P", "sentence " + Escaped(text));
      if (byte == kSentenceStart) fromReceiver(time, byte);
    } else if (IsControl(byte)) {
      // Noise ends the sentence without completing it.
      frame_ += static_cast<char>(byte);
      endReceiverFrame();
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
        emit(prevTime_, "R>P", token);
      } else if (token == kFreeTextReply) {
        flushHeld();
        freeText_ = true;
        ftOpen_ = true;
        ft_.time = prevTime_;
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
  if (byte != 0) {
    prev_ = byte;
    prevTime_ = time;
    prevMark_ = holder.text.size();
    prevInFreeText_ = freeText_;
  }
  holder.text += static_cast<char>(byte);
}

void TraceFrames::endReceiverFrame() {
  if (mode_ != Mode::kScan) {
    if (receivedUnknown_.text.empty()) receivedUnknown_.time = frameTime_;
    receivedUnknown_.text += frame_;
  }
  mode_ = Mode::kScan;
  frame_.clear();
  freeText_ = false;
  prev_ = -1;
}

void TraceFrames::write(int64_t time, const std::string& dir, const std::string& what) {
  out_(std::to_string(time) + " " + dir + " " + what);
}

void TraceFrames::flushHeld() {
  struct Line {
    int64_t time;
    std::string dir, what;
  };
  std::vector<Line> lines;
  if (!sentUnknown_.text.empty())
    lines.push_back({sentUnknown_.time, "P>R", "bytes " + HexBytes(sentUnknown_.text)});
  if (!receivedUnknown_.text.empty())
    lines.push_back({receivedUnknown_.time, "R>P", "bytes " + HexBytes(receivedUnknown_.text)});
  if (ftOpen_) lines.push_back({ft_.time, "R>P", "FT " + Escaped(ft_.text)});
  if (run_.count > 0)
    lines.push_back({run_.time, "P>R",
                     "blocks " + Hex32(run_.first) + " count " + std::to_string(run_.count) +
                         " bytes " + std::to_string(run_.bytes)});
  std::stable_sort(lines.begin(), lines.end(),
                   [](const Line& a, const Line& b) { return a.time < b.time; });
  for (const Line& l : lines) write(l.time, l.dir, l.what);
  sentUnknown_.text.clear();
  receivedUnknown_.text.clear();
  ft_.text.clear();
  ftOpen_ = false;
  run_ = Run{};
  // A letter already written out is no longer held.
  prevMark_ = std::string::npos;
}

void TraceFrames::emit(int64_t time, const std::string& dir, const std::string& what) {
  flushHeld();
  write(time, dir, what);
}
