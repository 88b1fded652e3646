// Deterministic image bytes for samples and tests: the same seed gives the
// same bytes on every machine (a xorshift sequence, top byte of each step).
#ifndef VELMORA_SIM_SAMPLE_BYTES_H_
#define VELMORA_SIM_SAMPLE_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string SeededImage(size_t length, uint32_t seed) {
  std::string s(length, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

#endif  // VELMORA_SIM_SAMPLE_BYTES_H_
