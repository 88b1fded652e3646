#include "line/child_protocol.h"

namespace {

constexpr size_t kHeadSize = 13;

void PutLe32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t GetLe32(const char* p) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(p[i]);
  return value;
}

bool KnownKind(char kind) {
  for (char k : std::string_view("WGBDLFSTPIOXER"))
    if (k == kind) return true;
  return false;
}

}  // namespace

std::string EncodeMessage(MessageKind kind, int32_t a, int32_t b, std::string_view text) {
  std::string out;
  out.reserve(kHeadSize + text.size());
  out += static_cast<char>(kind);
  PutLe32(out, static_cast<uint32_t>(a));
  PutLe32(out, static_cast<uint32_t>(b));
  PutLe32(out, static_cast<uint32_t>(text.size()));
  out += text;
  return out;
}

bool MessageReader::next(Message* message) {
  if (corrupt_ || pending_.size() - head_ < kHeadSize) return false;
  const char* p = pending_.data() + head_;
  const uint32_t length = GetLe32(p + 9);
  if (!KnownKind(p[0]) || length > kMaxMessageText) {
    corrupt_ = true;
    return false;
  }
  if (pending_.size() - head_ < kHeadSize + length) return false;
  message->kind = static_cast<MessageKind>(p[0]);
  message->a = static_cast<int32_t>(GetLe32(p + 1));
  message->b = static_cast<int32_t>(GetLe32(p + 5));
  message->text.assign(p + kHeadSize, length);
  head_ += kHeadSize + length;
  if (head_ == pending_.size()) {
    pending_.clear();
    head_ = 0;
  }
  return true;
}
