// Port discovery from the three Windows sources, as portable logic.
//
// This is no platform file: it is plain C++ built on every platform, and the
// Linux tests run it against a fake Win32DiscoveryApi. The Windows binding
// that hands it the real calls is port_discovery-win32.cc; Linux discovery is
// port_discovery-posix.cc and does not use this.
//
// The Windows version chooses the source:
//   - version 5 and later: the present devices of the serial-port interface
//     class, with friendly name, description and whether the location reads
//     "USB..."; a device without friendly name or description is skipped;
//   - the NT platform below version 5: COM1 to COM16, unprobed;
//   - otherwise (the 9x family): the plug-and-play tree under HKLM\Enum,
//     standard serial ports (*PNP0500, *PNP0501) and every device under the
//     USBPORTS bus; an instance replaces an earlier record of the same port
//     name in place.
// Then FinishPortList (port_discovery.h) with the open test below.
//
// Errors raise PortDiscoveryError with the failed call's text and the
// Windows error code in lower-case hex ("SetupDiGetClassDevs failed.
// (err=5)"); the records found before it stay in the list, the finishing step
// is not run. Every device set, registry key and handle opened is closed
// again before the call returns or raises.
#ifndef VELMORA_SERIAL_PORT_DISCOVERY_WIN32_SOURCES_H_
#define VELMORA_SERIAL_PORT_DISCOVERY_WIN32_SOURCES_H_

#include <string>

#include "serial/port_discovery.h"
#include "serial/win32_discovery_api.h"

// Empties `list` and fills it from the source that `api`'s version chooses.
// With `requireOpenable`, only records whose devicePath opens now stay.
void DiscoverWin32Ports(Win32DiscoveryApi& api, PortList& list, bool requireOpenable);

// Whether `devicePath` opens now for reading and writing, shared with nobody;
// the handle is closed again at once.
bool Win32PortOpens(Win32DiscoveryApi& api, const std::string& devicePath);

#endif  // VELMORA_SERIAL_PORT_DISCOVERY_WIN32_SOURCES_H_
