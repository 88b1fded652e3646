// Port discovery on Linux: the serial ports that sysfs knows, under their COM
// names.
//
// Every entry of <sys>/class/tty is a tty the kernel has registered. The ones
// without a `device` link are virtual (consoles, pseudo-terminals, tty0 to
// tty63) and are passed over. Serial-core ports (ttyS, ttyAMA and the like)
// carry a `type` attribute, the UART the core found; 0 means it found none,
// which is how the 8250 driver's spare ports (ttyS1 to ttyS3 on most PCs) look.
// Such ports are passed over too. Kernels since 6.7 bind every serial-core
// port to a "port" driver of their own, so the driver's name no longer tells a
// real 8250 port from a spare one; the type does.
//
// A port sits on USB when its device, or one of the device's parents, is a USB
// device (it has an idVendor attribute). The nearest such parent is the USB
// device itself; its product and manufacturer strings describe the port.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/port_holders.h"
#include "serial/port_aliases.h"
#include "serial/port_names.h"

namespace {

// Raises the error for a failed read of sysfs: "<what>. (err=<hex code>)".
[[noreturn]] void Fail(const std::string& what, int error) {
  char code[24];
  std::snprintf(code, sizeof code, "%lx", static_cast<unsigned long>(error));
  throw PortDiscoveryError(what + ". (err=" + code + ")");
}

// The value of attribute `name` in `dir` without its line end; false when the
// attribute is missing, unreadable or empty. Every attribute is optional.
bool ReadAttribute(const std::string& dir, const char* name, std::string* value) {
  const std::string path = dir + "/" + name;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  ssize_t length;
  do {
    length = ::read(fd, buffer, sizeof buffer);
  } while (length < 0 && errno == EINTR);
  ::close(fd);
  if (length <= 0) return false;
  std::string text(buffer, static_cast<size_t>(length));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  if (text.empty()) return false;
  *value = std::move(text);
  return true;
}

// The absolute, resolved path of `path`. Empty when nothing is there: a tty
// without a device, or a device unplugged while discovery runs. Any other
// failure is an error.
std::string Resolve(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  if (errno == ENOENT || errno == ENOTDIR) return std::string();
  Fail("Could not resolve " + path, errno);
}

// The last part of the target of symbolic link `path`; empty when it is none.
std::string LinkName(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return std::string();
  const std::string text(target, static_cast<size_t>(length));
  return text.substr(text.rfind('/') + 1);
}

// The nearest of `deviceDir` and its parents, up to but not including
// `sysRoot`, that is a USB device; empty when there is none.
std::string UsbDeviceDir(const std::string& deviceDir, const std::string& sysRoot) {
  std::string dir = deviceDir;
  while (dir.size() > sysRoot.size() && dir.compare(0, sysRoot.size(), sysRoot) == 0 &&
         dir[sysRoot.size()] == '/') {
    if (::access((dir + "/idVendor").c_str(), F_OK) == 0) return dir;
    dir.resize(dir.rfind('/'));
  }
  return std::string();
}

// The UART that serial-core type number `type` stands for, as the kernel
// names it.
std::string UartName(int type) {
  static constexpr const char* kNames[] = {
      "unknown", "8250",     "16450",      "16550",   "16550A",  "Cirrus", "ST16650",  "ST16650V2",
      "TI16750", "Startech", "16C950/954", "ST16654", "XR16850", "RSA",    "NS16550A", "XScale",
  };
  constexpr int kAmba = 32;  // the ARM PL010 and PL011 UARTs
  if (type > 0 && type < static_cast<int>(std::size(kNames))) return kNames[type];
  if (type == kAmba) return "AMBA";
  return "UART type " + std::to_string(type);
}

// One tty that a device backs.
struct HardwarePort {
  std::string name;           // the device's name under /dev, e.g. ttyUSB0
  std::string devicePath;     // <dev>/<name>
  std::string canonicalPath;  // devicePath with its links resolved, to match aliases
  int tableNumber = 0;        // its COM number in the fixed table, 0 when none
  int32_t isUsb = 0;
  std::string description;
  std::string serialNumber;  // the USB device's "serial" string
  bool reached = false;  // an alias names it
};

// What a user recognises the port by: the USB product string, else the USB
// manufacturer, else the name with the UART type ("ttyS0, 16550A") or with the
// driver ("ttyUSB3, ftdi_sio"), else the name alone.
std::string Describe(const std::string& name, const std::string& entryDir,
                     const std::string& deviceDir, const std::string& usbDir) {
  std::string text;
  if (!usbDir.empty() &&
      (ReadAttribute(usbDir, "product", &text) || ReadAttribute(usbDir, "manufacturer", &text))) {
    return text;
  }
  if (ReadAttribute(entryDir, "type", &text)) {
    const int type = ParseCanonicalNumber(text, INT_MAX);
    if (type > 0) return name + ", " + UartName(type);
  }
  // The serial core's own "port" driver says nothing about the hardware.
  const std::string driver = LinkName(deviceDir + "/driver");
  if (!driver.empty() && driver != "port") return name + ", " + driver;
  return name;
}

// Every tty under <sysRoot>/class/tty that a device backs and that is there.
std::vector<HardwarePort> ReadHardwarePorts(const std::string& sysRoot,
                                            const std::string& devRoot) {
  const std::string classDir = sysRoot + "/class/tty";
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(classDir.c_str()), ::closedir);
  if (!stream) Fail("Could not read " + classDir, errno);
  std::string root = Resolve(sysRoot);
  if (root.empty()) root = sysRoot;

  std::vector<HardwarePort> ports;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (!entry) {
      if (errno != 0) Fail("Could not read " + classDir, errno);
      break;
    }
    const std::string entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    const std::string entryDir = classDir + "/" + entryName;
    const std::string deviceDir = Resolve(entryDir + "/device");
    if (deviceDir.empty()) continue;
    std::string type;
    if (ReadAttribute(entryDir, "type", &type) && type == "0") continue;

    HardwarePort port;
    // sysfs writes a "/" in a device name as "!".
    port.name = entryName;
    std::replace(port.name.begin(), port.name.end(), '!', '/');
    port.devicePath = devRoot + "/" + port.name;
    std::error_code error;
    port.canonicalPath = std::filesystem::weakly_canonical(port.devicePath, error).string();
    if (error) port.canonicalPath = port.devicePath;
    port.tableNumber = ComNumberForDevice(port.name);
    const std::string usbDir = UsbDeviceDir(deviceDir, root);
    port.isUsb = usbDir.empty() ? 0 : 1;
    port.description = Describe(port.name, entryDir, deviceDir, usbDir);
    if (!usbDir.empty()) ReadAttribute(usbDir, "serial", &port.serialNumber);
    ports.push_back(std::move(port));
  }
  return ports;
}

std::string CanonicalTarget(const std::string& target) {
  std::error_code error;
  std::string path = std::filesystem::weakly_canonical(target, error).string();
  return error ? target : path;
}

PortRecord MakeRecord(const std::string& devicePath, const std::string& portName,
                      const std::string& bracketed, int32_t isUsb, const std::string& description) {
  PortRecord record;
  record.devicePath = devicePath;
  record.portName = portName;
  record.friendlyName = description + " (" + bracketed + ")";
  record.isUsb = isUsb;
  record.description = description;
  return record;
}

}  // namespace

bool PortCanBeOpened(const std::string& devicePath) {
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  termios t;
  std::string busy;
  // Reads the settings only to tell a terminal from any other file.
  const bool free = ::tcgetattr(fd, &t) == 0 && ClaimPort(fd, devicePath, false, &busy);
  ::close(fd);
  return free;
}

void discoverPorts(PortList& list, bool requireOpenable) {
  discoverPorts(list, requireOpenable, "/sys", "/dev");
}

void discoverPorts(PortList& list, bool requireOpenable, const std::string& sysRoot,
                   const std::string& devRoot) {
  list.clear();
  std::vector<HardwarePort> hardware = ReadHardwarePorts(sysRoot, devRoot);
  const std::vector<PortAlias> aliases = ListPortAliases();
  std::vector<std::string> aliasTargets;
  for (const PortAlias& alias : aliases) aliasTargets.push_back(CanonicalTarget(alias.target));

  std::sort(hardware.begin(), hardware.end(), [](const HardwarePort& a, const HardwarePort& b) {
    if ((a.tableNumber == 0) != (b.tableNumber == 0)) return a.tableNumber != 0;
    return a.tableNumber != 0 ? a.tableNumber < b.tableNumber : a.name < b.name;
  });

  // The table's ports, unless an alias gives their number to another device
  // (an alias comes first when a COM name is opened). An alias that names the
  // same device as the table is not listed twice.
  std::vector<bool> aliasListed(aliases.size(), false);
  std::vector<const HardwarePort*> unnamed;
  for (HardwarePort& port : hardware) {
    bool named = port.tableNumber != 0;
    for (size_t i = 0; named && i < aliases.size(); ++i) {
      if (aliases[i].number != port.tableNumber) continue;
      if (aliasTargets[i] == port.canonicalPath) {
        aliasListed[i] = true;
      } else {
        named = false;
      }
    }
    if (named) {
      const std::string portName = ComName(port.tableNumber);
      list.push_back(MakeRecord(port.devicePath, portName, portName, port.isUsb, port.description));
      list.back().serialNumber = port.serialNumber;
    } else {
      unnamed.push_back(&port);
    }
  }

  // The aliases, described like the port they name when discovery found it.
  for (size_t i = 0; i < aliases.size(); ++i) {
    if (aliasListed[i]) continue;
    const std::string portName = ComName(aliases[i].number);
    int32_t isUsb = 0;
    std::string description = "alias of " + aliases[i].target, serialNumber;
    for (HardwarePort& port : hardware) {
      if (port.canonicalPath != aliasTargets[i]) continue;
      port.reached = true;
      isUsb = port.isUsb;
      description = port.description;
      serialNumber = port.serialNumber;
      break;
    }
    list.push_back(MakeRecord(aliases[i].target, portName, portName, isUsb, description));
    list.back().serialNumber = serialNumber;
  }

  // Ports no COM name reaches, by device name.
  for (const HardwarePort* port : unnamed) {
    if (port->reached) continue;
    list.push_back(MakeRecord(port->devicePath, std::string(), port->devicePath, port->isUsb,
                              port->description));
    list.back().serialNumber = port->serialNumber;
  }

  if (list.empty()) return;
  FinishPortList(list, requireOpenable);
}
