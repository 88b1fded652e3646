// Listing the serial ports present on the machine.
//
// discoverPorts fills a PortList with one PortRecord per port, each with a
// path that opens it and the names a user knows it by. The port dialog calls
// it once while it initialises and shows, for each record with a COM name,
// the text between the brackets of its friendlyName (such as COM3).
//
// Threads: any; it keeps no state between calls and does not touch the
// programmer's shared port.
#ifndef VELMORA_SERIAL_PORT_DISCOVERY_H_
#define VELMORA_SERIAL_PORT_DISCOVERY_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

struct PortRecord {
  std::string devicePath;    // the path that opens the port
  std::string portName;      // its short name, e.g. COM33
  std::string friendlyName;  // what the user is shown, e.g. "FT232R USB UART (COM33)"
  int32_t isUsb = 0;         // 1 when the port sits on USB
  std::string description;   // what the device is
  std::string serialNumber;  // the USB device's serial number string; empty when none
};

using PortList = std::vector<PortRecord>;

// The one error discovery raises; what() names the failed call and the error
// code.
class PortDiscoveryError : public std::runtime_error {
 public:
  explicit PortDiscoveryError(const std::string& message) : std::runtime_error(message) {}
};

// Empties `list`, then fills it with the ports present, in a fixed order. With
// `requireOpenable`, only ports that can be opened at this moment stay.
// Raises PortDiscoveryError; the records found before the error stay in the
// list.
void discoverPorts(PortList& list, bool requireOpenable);

// The same over a device tree rooted elsewhere: the kernel's sysfs under
// `sysRoot` instead of /sys and the device nodes under `devRoot` instead of
// /dev. Tests build fake trees for it.
//
// On Linux the ports are the ttys under <sysRoot>/class/tty that a device
// backs, less the serial-core ports whose UART type is 0 (no UART there). A
// port is listed under the COM name that opens it: first the ports with a
// number from the fixed table in number order, then every alias in number
// order. A port that no COM name reaches (beyond the table, or its number
// taken by an alias for another device, and no alias for it) comes last, with
// an empty portName and its device path in the brackets of its friendlyName,
// e.g. "ttyS40, 16550A (/dev/ttyS40)"; only its device path or a new alias
// opens it.
void discoverPorts(PortList& list, bool requireOpenable, const std::string& sysRoot,
                   const std::string& devRoot);

// The openable test: whether `devicePath` opens as a serial port that nobody
// else uses at this moment (no other holder, as the programmer's own open
// checks). It only opens the device and closes it again: the line settings,
// the exclusive mode and the lock are left as they were.
bool PortCanBeOpened(const std::string& devicePath);

// The finishing step that every source's records go through, in list order:
// with `requireOpenable`, a record that fails the openable test is removed
// (the rest keep their order); an empty friendlyName becomes
// the portName; an empty description becomes the friendlyName, less a
// trailing bracketed part: "FT232R USB UART (COM33)" gives "FT232R USB UART".
void FinishPortList(PortList& list, bool requireOpenable);

// The same with the openable test given: `canOpen` says whether a device path
// opens at this moment (PortCanBeOpened above is the one on this platform).
void FinishPortList(PortList& list, bool requireOpenable,
                    const std::function<bool(const std::string&)>& canOpen);

#endif  // VELMORA_SERIAL_PORT_DISCOVERY_H_
