// velmora-ports on Windows: the COM name by the port dialog's own rule
// (ui/port_entry): the entry text of a port the dialog lists, "-" for one
// it leaves out.
#include "apps/velmora_ports.h"
#include "ui/port_entry.h"

std::string ComNameField(const PortRecord& port) {
  return PortIsListed(port) ? PortEntryText(port) : "-";
}
