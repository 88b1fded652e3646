// velmora-ports' one platform difference: what its first field shows.
#ifndef VELMORA_APPS_VELMORA_PORTS_H_
#define VELMORA_APPS_VELMORA_PORTS_H_

#include <string>

#include "serial/port_discovery.h"

// The COM name under which the port dialog offers `port`, "-" when it offers
// none. On Linux that is the record's portName. On Windows most records carry
// no portName (the device-interface source leaves it empty), and the dialog's
// own rule (ui/port_entry) applies: the text between the brackets of the
// friendly name when that is a COM name, "COM4" for "USB Serial Port
// (COM4)"; a port whose brackets hold something else, such as "Modem
// (V.92) (COM8)", is not offered.
std::string ComNameField(const PortRecord& port);

#endif  // VELMORA_APPS_VELMORA_PORTS_H_
