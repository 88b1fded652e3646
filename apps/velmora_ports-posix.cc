// velmora-ports on Linux: a port without a COM name shows "-".
#include "apps/velmora_ports.h"

std::string ComNameField(const PortRecord& port) {
  return port.portName.empty() ? "-" : port.portName;
}
