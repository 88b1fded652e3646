#include "ui/port_entry.h"

#include <cctype>
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

bool PortIsListed(const PortRecord& port) {
  if (!port.portName.empty()) return true;
  const std::string entry = PortEntryText(port);
  return entry.size() > 3 && entry.compare(0, 3, "COM") == 0 &&
         std::isdigit(static_cast<unsigned char>(entry[3]));
}
