// The portable half of the port names: reading and writing "COM<n>".
#include "serial/port_names.h"

int ParseCanonicalNumber(std::string_view digits, int max) {
  if (digits.empty()) return -1;
  if (digits.size() > 1 && digits[0] == '0') return -1;
  long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    if (value > max) return -1;
  }
  return static_cast<int>(value);
}

int ComNumber(std::string_view portName) {
  if (portName.size() < 4) return 0;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  if (upper(portName[0]) != 'C' || upper(portName[1]) != 'O' || upper(portName[2]) != 'M') {
    return 0;
  }
  const int number = ParseCanonicalNumber(portName.substr(3), kMaxComNumber);
  return number >= 1 ? number : 0;
}

std::string ComName(int number) {
  if (number < 1 || number > kMaxComNumber) return std::string();
  return "COM" + std::to_string(number);
}
