// Port names on Windows: the port name as typed, behind the prefix that
// reaches every device by its own name ("\\.\COM12" as well as "\\.\COM1").
// There is no alias directory and no table: the system knows its COM ports.
#include "serial/port_names.h"

namespace {
// The device path must fit 100 characters with its terminator: the four
// characters of the prefix and at most 95 of the name.
constexpr size_t kMaxPortNameLength = 95;
}  // namespace

std::string DevicePathForPort(const std::string& portName, std::string* why) {
  if (portName.empty() || portName.size() > kMaxPortNameLength) {
    if (why) {
      *why = portName.empty() ? "no port name"
                              : "the port name is longer than " +
                                    std::to_string(kMaxPortNameLength) + " characters";
    }
    return std::string();
  }
  return "\\\\.\\" + portName;
}
