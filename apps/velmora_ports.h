// velmora-ports' one platform difference: what its first field shows.
#ifndef VELMORA_APPS_VELMORA_PORTS_H_
#define VELMORA_APPS_VELMORA_PORTS_H_

#include <string>

#include "serial/port_discovery.h"

// The COM name under which the port dialog offers `port`, "-" when it offers
// none. On Linux that is the record's portName. On Windows most records carry
// no portName (the device-interface source leaves it empty), and the dialog
// lists the text between the brackets of the friendly name: "COM4" for
// "USB Serial Port (COM4)".
std::string ComNameField(const PortRecord& port);

#endif  // VELMORA_APPS_VELMORA_PORTS_H_
