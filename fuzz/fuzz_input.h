// Reading a fuzz input from the front, one field at a time.
//
// Fields are taken in order and every read past the end yields zeros (or
// nothing), so any input is a valid one and a hand-made seed reads as it is
// written: the first byte is the first field.
#ifndef VELMORA_FUZZ_FUZZ_INPUT_H_
#define VELMORA_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  size_t left() const { return size_ - at_; }

  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Most significant byte first.
  uint16_t u16() {
    const uint16_t high = byte();
    return static_cast<uint16_t>(high << 8 | byte());
  }
  uint32_t u32() {
    const uint32_t high = u16();
    return high << 16 | u16();
  }
  // Up to `count` bytes (fewer at the end of the input).
  std::string bytes(size_t count) {
    const size_t n = count < left() ? count : left();
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  std::string rest() { return bytes(left()); }
  // The same as bytes(), without a copy: valid as long as the input is.
  std::string_view view(size_t count) {
    const size_t n = count < left() ? count : left();
    const std::string_view s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Stops the fuzzer with a message when `condition` is false; libFuzzer keeps
// the input that did it.
#define FUZZ_CHECK(condition)                                            \
  do {                                                                   \
    if (!(condition)) ::FuzzCheckFailed(__FILE__, __LINE__, #condition); \
  } while (0)

[[noreturn]] void FuzzCheckFailed(const char* file, int line, const char* what);

#endif  // VELMORA_FUZZ_FUZZ_INPUT_H_
