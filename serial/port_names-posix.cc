// The POSIX half of the port names: the device table, and the lookup that
// asks the alias directory (port_aliases-posix.cc) first.
#include <cstdlib>

#include "serial/port_aliases.h"
#include "serial/port_names.h"

namespace {

// One row of the table: COM<firstNumber> and the following 31 numbers are
// <prefix>0 to <prefix>31.
struct TableRow {
  int firstNumber;
  const char* prefix;
};

constexpr int kRowLength = 32;
constexpr TableRow kTable[] = {
    {1, "ttyS"},
    {33, "ttyUSB"},
    {65, "ttyACM"},
    {97, "ttyAMA"},
};

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

std::string DevicePathForPort(const std::string& portName, std::string* why) {
  return DevicePathForPort(portName, "/dev", why);
}

std::string DevicePathForPort(const std::string& portName, const std::string& deviceRoot,
                              std::string* why) {
  if (!portName.empty() && portName[0] == '/') return portName;
  const int number = ComNumber(portName);
  if (number == 0) {
    SetWhy(why, "\"" + portName +
                    "\" stands for no device: name a port COM1 to COM256 or give an absolute "
                    "device path");
    return std::string();
  }
  const std::string name = ComName(number);
  const PortAliasLookup alias = LookUpPortAlias(number);
  if (!alias.target.empty()) return alias.target;
  const bool leftOver = alias.leftByEndedSimulator;
  const std::string& dir = alias.directory;
  const std::string device = TableDeviceName(number);
  if (!device.empty()) return deviceRoot + "/" + device;
  SetWhy(why, portName + " stands for no device here (" +
                  (leftOver ? "the alias " + name + " in " + dir +
                                  " was left by a simulator that has ended"
                            : "no alias " + name + " in " + dir) +
                  ")");
  return std::string();
}

std::string TableDeviceName(int number) {
  for (const TableRow& row : kTable) {
    if (number >= row.firstNumber && number < row.firstNumber + kRowLength) {
      return row.prefix + std::to_string(number - row.firstNumber);
    }
  }
  return std::string();
}

int ComNumberForDevice(std::string_view deviceName) {
  std::string_view name = deviceName;
  if (name.substr(0, 5) == "/dev/") name.remove_prefix(5);
  // No prefix of the table begins another, so at most one row matches.
  for (const TableRow& row : kTable) {
    const std::string_view prefix(row.prefix);
    if (name.substr(0, prefix.size()) != prefix) continue;
    const int index = ParseCanonicalNumber(name.substr(prefix.size()), kRowLength - 1);
    return index < 0 ? 0 : row.firstNumber + index;
  }
  return 0;
}
