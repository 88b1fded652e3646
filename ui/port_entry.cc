#include "ui/port_entry.h"

#include <cstdlib>

#include "ui/split_token.h"

std::string PortEntryText(const PortRecord& port) {
  if (port.friendlyName.find('(') == std::string::npos) return port.portName;
  std::string name = port.friendlyName;
  SplitToken(name, '(', true);
  return SplitToken(name, ')', false);
}

int PortNumberOfEntry(const std::string& entry) {
  return entry.size() > 3 ? std::atoi(entry.c_str() + 3) : 0;
}
