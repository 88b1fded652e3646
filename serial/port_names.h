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
// 1. The alias directory: a symbolic link named COM<n> (upper case, as
//    RegisterPortAlias writes it) whose target is the device path; a relative
//    target is relative to the directory. The directory is $VELMORA_PORTS when
//    that is set and not empty, else $XDG_RUNTIME_DIR/velmora/ports when
//    XDG_RUNTIME_DIR is set and not empty, else /tmp/velmora-<uid>/ports.
//
//    Because the programmer writes firmware into whatever an alias names, the
//    directory is checked and then used through one open descriptor, so that
//    what was checked is what is read. It is ignored, and one line on
//    standard error says so (once per directory and process), unless it is a
//    directory and no symbolic link, belongs to the effective user and its
//    group and others may not write to it, and its parent is no symbolic link
//    either and belongs to the user or to root, and others may not write to
//    it unless it is sticky (as /tmp is: there only an entry's owner may
//    rename it). A missing directory simply holds no aliases.
//
//    A simulator's alias (LivePortAlias) has a lock file beside it,
//    COM<n>.lock, which the simulator keeps locked while it runs and which
//    names the simulator's process and terminal. When that file is there,
//    nobody holds its lock, and it names the alias's own target, the
//    simulator has ended without removing its alias (it was killed): the
//    alias is not followed, as if it were not there, because its terminal
//    may by now belong to another program. An alias made by hand has no lock
//    file and is always followed.
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

// The alias directory named by the environment, as described above, whether
// or not it exists or is safe to use.
std::string PortAliasDirectory();

// One alias: COM<number> stands for `target`.
struct PortAlias {
  int number;
  std::string target;
};

// Every alias in the alias directory, in number order. Empty when the
// directory is missing or ignored as unsafe. Entries that are not symbolic
// links named COM1 to COM256 are passed over.
std::vector<PortAlias> ListPortAliases();

// Makes COM<number> stand for `target` (an absolute path), replacing any alias
// it had, and the lock file of a simulator that has ended. Creates the
// directory (and missing parents) with mode 0700 when it is missing. Returns
// false, with a one-line reason in `why` when given, when the number or
// target is invalid, the directory is unsafe, a running simulator holds the
// number, or the link cannot be made.
bool RegisterPortAlias(int number, const std::string& target, std::string* why);

// Removes the alias of COM<number>. True when no such alias remains (also
// when there was none); false with a reason when it could not be removed.
bool RemovePortAlias(int number, std::string* why);

// The alias of a program that serves a terminal, velmora-sim: COM<number>
// stands for the terminal for as long as the program holds this object, and
// not a moment longer. claim() takes the number's lock file and keeps it
// locked through a descriptor that no child program inherits, so the lock
// ends with the process however it ends; release() (and the destructor)
// removes the alias if it still names the terminal, and then the lock file.
// Every file is reached through the directory's descriptor taken at claim().
//
// Threads: one object is used from one thread at a time.
class LivePortAlias {
 public:
  LivePortAlias() = default;
  ~LivePortAlias();
  LivePortAlias(const LivePortAlias&) = delete;
  LivePortAlias& operator=(const LivePortAlias&) = delete;

  // Makes COM<number> stand for `target` (an absolute path) as
  // RegisterPortAlias does, and holds it. Refuses a number that another
  // running program holds: false with the reason, such as "COM200 belongs to
  // a running simulator (process 4242)". At most one claim per object.
  bool claim(int number, const std::string& target, std::string* why);

  // Gives the number up. True when nothing is left behind (also when nothing
  // was claimed); false with a reason when a file could not be removed.
  bool release(std::string* why);

  bool claimed() const { return lockFd_ >= 0; }

 private:
  int dirFd_ = -1;
  int lockFd_ = -1;
  std::string name_;    // COM<n>
  std::string target_;  // the terminal
};

#endif  // VELMORA_SERIAL_PORT_NAMES_H_
