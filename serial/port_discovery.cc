// The portable half of port discovery: the finishing step that fills in
// missing names and drops ports that cannot be opened.
#include "serial/port_discovery.h"

#include <string>

namespace {

// The description a record without one gets from its friendly name: the
// whole name, less a bracketed part at its end that follows some text and a
// blank ("FT232R USB UART (COM33)" gives "FT232R USB UART").
std::string DescriptionFromFriendlyName(const std::string& friendlyName) {
  const size_t open = friendlyName.find(" (");
  const size_t close = friendlyName.find(')');
  if (open != std::string::npos && open > 0 && close != std::string::npos &&
      close == friendlyName.size() - 1) {
    return friendlyName.substr(0, open);
  }
  return friendlyName;
}

}  // namespace

void FinishPortList(PortList& list, bool requireOpenable) {
  FinishPortList(list, requireOpenable, PortCanBeOpened);
}

void FinishPortList(PortList& list, bool requireOpenable,
                    const std::function<bool(const std::string&)>& canOpen) {
  for (size_t index = 0; index < list.size();) {
    PortRecord& record = list[index];
    if (requireOpenable && !canOpen(record.devicePath)) {
      list.erase(list.begin() + static_cast<PortList::difference_type>(index));
      continue;
    }
    if (record.friendlyName.empty()) record.friendlyName = record.portName;
    if (record.description.empty()) {
      record.description = DescriptionFromFriendlyName(record.friendlyName);
    }
    ++index;
  }
}
