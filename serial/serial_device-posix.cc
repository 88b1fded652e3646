// Serial ports told by their device numbers and the tty class in sysfs.
#include "serial/serial_device-posix.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The pseudo-terminals' terminal sides (Unix98 ptys, /dev/pts/N).
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
// The virtual consoles share major 4 with the UARTs' ttyS64...: minors below
// this are /dev/tty0 to /dev/tty63.
constexpr unsigned kFirstUartMinor = 64;

// The class that sysfs gives character device MAJOR:MINOR ("tty", "mem",
// "misc"); empty when sysfs does not list it.
std::string DeviceClass(unsigned major, unsigned minor, const std::string& sysRoot) {
  const std::string link =
      sysRoot + "/dev/char/" + std::to_string(major) + ":" + std::to_string(minor) + "/subsystem";
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return "";
  const std::string path(target, static_cast<size_t>(length));
  return path.substr(path.rfind('/') + 1);
}

// What kind of file `mode` is, for a name that is no device.
std::string FileKind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "no device";
}

}  // namespace

std::string NotASerialDevice(dev_t device, const std::string& sysRoot) {
  const unsigned major = ::major(device), minor = ::minor(device);
  if (major >= kFirstPtyMajor && major <= kLastPtyMajor) return "";
  if (major == 5 && minor == 0) return "the controlling terminal";
  if (major == 5 && minor == 1) return "the system console";
  if (major == 5 && minor == 2) return "the pseudo-terminal multiplexer";
  if (major == 4 && minor < kFirstUartMinor) return "a virtual console";
  const std::string kind = DeviceClass(major, minor, sysRoot);
  if (kind == "tty") return "";
  if (kind.empty()) return "a device that " + sysRoot + " does not list as a terminal";
  return "a device of class " + kind;
}

std::string CheckSerialPortPath(const std::string& path, const std::string& label, dev_t* device) {
  *device = 0;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  const std::string why =
      S_ISCHR(st.st_mode) ? NotASerialDevice(st.st_rdev, "/sys") : FileKind(st.st_mode);
  if (!why.empty()) return label + " is not a serial port (" + why + ")";
  *device = st.st_rdev;
  return "";
}
