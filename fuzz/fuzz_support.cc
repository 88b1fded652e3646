#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void FuzzCheckFailed(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

bool Verbose() {
  static const bool verbose = std::getenv("VELMORA_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

void ScheduledLink::add(std::string_view bytes, uint64_t atMs) {
  if (atMs < lastAtMs()) atMs = lastAtMs();
  for (char c : bytes) queue_.push_back({atMs, static_cast<uint8_t>(c)});
}

size_t ScheduledLink::read(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  while (got < count && readable()) {
    out[got++] = queue_.front().byte;
    consumed_ += static_cast<char>(queue_.front().byte);
    queue_.pop_front();
  }
  if (got == 0) {
    clock_.advance(1);
    ++elapsed_;
  }
  return got;
}

uint32_t ReadU32BE(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

std::string U32BE(uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 8), static_cast<char>(v)};
  return std::string(bytes, 4);
}

bool ReferenceReplyReader::feed(uint8_t b) {
  if (collecting_) {
    values_[count_++] = b;
    if (count_ < 8) return false;
    collecting_ = false;
    start_ = ReadU32BE(values_);
    end_ = ReadU32BE(values_ + 4);
    return true;
  }
  if (b == 0x00) return false;  // no part of any token or text
  const char c = static_cast<char>(b);
  if (havePrevious_) {
    static const char* const kTokens[] = {"RX", "OK", "BR", "PC", "PF", "FT"};
    for (const char* token : kTokens) {
      if (previous_ != token[0] || c != token[1]) continue;
      havePrevious_ = false;
      text_ = token;
      freeText_ = std::strcmp(token, "FT") == 0;
      if (std::strcmp(token, "RX") == 0 || std::strcmp(token, "OK") == 0) return true;
      if (!freeText_) {
        collecting_ = true;
        count_ = 0;
      }
      return false;
    }
  }
  havePrevious_ = true;
  previous_ = c;
  if (freeText_ && text_.size() < 200) text_ += c;
  return false;
}

bool ReferenceSentenceReader::feed(uint8_t b) {
  const bool whiteSpace = (b >= 0x09 && b <= 0x0D) || b == ' ';
  const bool printable = b >= 0x20 && b <= 0x7E;
  if (!whiteSpace && !printable) {
    close();
    return false;
  }
  if (b == '\n' || b == '$') {
    const bool completed = open_;
    close();
    if (b == '$') {
      open_ = true;
      text_ = "$";
    }
    return completed;
  }
  if (open_ && text_.size() < 99) text_ += static_cast<char>(b);
  return false;
}
