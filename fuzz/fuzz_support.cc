#include "fuzz/fuzz_support.h"

#include <algorithm>
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
  if (bytes.empty()) return;
  if (atMs < lastAtMs()) atMs = lastAtMs();
  if (read_ == bytes_.size() || chunks_.back().atMs != atMs)
    chunks_.push_back({atMs, bytes_.size()});
  bytes_.append(bytes);
}

size_t ScheduledLink::read(void* buffer, size_t count) {
  auto* out = static_cast<char*>(buffer);
  size_t got = 0;
  const size_t added = bytes_.size();
  while (got < count && read_ < added && chunks_[chunk_].atMs <= elapsed_) {
    const size_t end = chunk_ + 1 < chunks_.size() ? chunks_[chunk_ + 1].from : added;
    const size_t n = std::min(count - got, end - read_);
    if (n == 1)  // the readers' one byte at a time
      out[got] = bytes_[read_];
    else
      std::memcpy(out + got, bytes_.data() + read_, n);
    got += n;
    read_ += n;
    if (read_ == end) ++chunk_;
  }
  if (got == 0) {
    const uint64_t next = nextAtMs();
    elapsed_ += clock_.passIdle(next == UINT64_MAX ? UINT64_MAX
                                : next > elapsed_  ? next - elapsed_
                                                   : 0);
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
