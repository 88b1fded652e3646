// Port names: which device a COM name stands for.
//
// The programmer names its port the way the receiver's users know it: "COM"
// followed by a number from 1 to 256. The letters may be in any case (com7 is
// COM7); the number is decimal, without sign or leading zero, and nothing
// follows it, so COM3x, COM03, COM0 and COM257 stand for no device. On POSIX a
// name that begins with "/" is an absolute device path and is taken as it
// stands.
//
// A COM name is looked up in two places; the first match wins.
//
// 1. The alias directory (port_aliases.h): a symbolic link named COM<n>
//    whose target is the device path, unless a simulator that made it has
//    ended since.
//
// 2. The fixed table, devices under /dev:
//
//      COM1   - COM32    ttyS0   - ttyS31     on-board and PCI UARTs
//      COM33  - COM64    ttyUSB0 - ttyUSB31   USB serial converters
//      COM65  - COM96    ttyACM0 - ttyACM31   USB modem-class devices
//      COM97  - COM128   ttyAMA0 - ttyAMA31   ARM PL011 UARTs
//
//    So COM1 is /dev/ttyS0, COM33 is /dev/ttyUSB0 and COM36 is /dev/ttyUSB3.
//    COM129 to COM256 stand for a device only through an alias.
//
// Nothing here opens a device or tells whether it exists; that is the
// opener's business.
//
// On Windows there is no alias directory and no table: the system knows its
// COM ports. There only ParseCanonicalNumber, ComNumber, ComName and the
// two-argument DevicePathForPort exist; the last gives "\\.\" followed by
// the name as typed, and no path for an empty name or one longer than 95
// characters.
//
// Threads: any. The environment and the alias directory are read anew on
// every call.
#ifndef VELMORA_SERIAL_PORT_NAMES_H_
#define VELMORA_SERIAL_PORT_NAMES_H_

#include <string>
#include <string_view>
#include <vector>

// The highest number a COM name can carry.
inline constexpr int kMaxComNumber = 256;

// The value of `digits` when it is a decimal number of at most `max`, written
// without sign, blanks or leading zero ("0" itself is fine); -1 otherwise.
int ParseCanonicalNumber(std::string_view digits, int max);

// The number n of a port name "COM<n>" as described above, 1 to 256; 0 when
// the name is no such name.
int ComNumber(std::string_view portName);

// "COM<n>" for a number 1 to 256; empty otherwise.
std::string ComName(int number);

// The device path that `portName` stands for: an absolute path as it stands,
// a COM name through the alias directory, then the table (under /dev). When
// the name stands for no device, returns an empty text and, when `why` is
// given, a one-line reason for the user (no line end).
std::string DevicePathForPort(const std::string& portName, std::string* why);

// The same with the table's devices under `deviceRoot` instead of /dev.
std::string DevicePathForPort(const std::string& portName, const std::string& deviceRoot,
                              std::string* why);

// The table's device name for COM number `number` ("ttyUSB3" for 36); empty
// when the table has none.
std::string TableDeviceName(int number);

// The inverse: the COM number the table gives device `deviceName` (a name in
// the device root such as "ttyUSB3", or "/dev/ttyUSB3"); 0 when it gives none.
// Aliases are not consulted; ListPortAliases lists them.
int ComNumberForDevice(std::string_view deviceName);

#endif  // VELMORA_SERIAL_PORT_NAMES_H_
