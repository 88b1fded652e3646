// Listing the serial ports present on the machine.
//
// discoverPorts fills a PortList with one PortRecord per port, each with a
// path that opens it and the names a user knows it by. The port dialog calls
// it once while it initialises and shows, for each record, the text between
// the brackets of its friendlyName (such as COM3).
//
// Threads: any; it keeps no state between calls and does not touch the
// programmer's shared port.
#ifndef VELMORA_SERIAL_PORT_DISCOVERY_H_
#define VELMORA_SERIAL_PORT_DISCOVERY_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct PortRecord {
  std::string devicePath;    // the path that opens the port
  std::string portName;      // its short name, e.g. COM33
  std::string friendlyName;  // what the user is shown, e.g. "FT232R USB UART (COM33)"
  int32_t isUsb = 0;         // 1 when the port sits on USB
  std::string description;   // what the device is
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

#endif  // VELMORA_SERIAL_PORT_DISCOVERY_H_
