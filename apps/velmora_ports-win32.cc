// velmora-ports on Windows: the record's port name, or else the text between
// the first "(" of its friendly name and the ")" after it, as the port dialog
// lists it.
#include "apps/velmora_ports.h"

std::string ComNameField(const PortRecord& port) {
  if (!port.portName.empty()) return port.portName;
  const size_t open = port.friendlyName.find('(');
  const size_t close = port.friendlyName.find(')', open);
  if (open == std::string::npos || close == std::string::npos || close == open + 1) return "-";
  return port.friendlyName.substr(open + 1, close - open - 1);
}
