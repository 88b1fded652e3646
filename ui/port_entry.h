// The port dialog's list entries, for both faces: the text shown for a port
// and the port number that "Update" reads back from the selected entry.
//
// Threads: any; plain functions.
#ifndef VELMORA_UI_PORT_ENTRY_H_
#define VELMORA_UI_PORT_ENTRY_H_

#include <string>

#include "serial/port_discovery.h"

// Whether the dialog lists `port`: only a port that a COM name reaches can be
// handed to the engine, which takes a port number. That is a port with a
// portName (Linux's table and aliases, Windows' numbered names and registry
// walk), or one whose entry text is a COM name (Windows' device interfaces,
// whose records carry the name only in the friendly name's brackets). A
// Linux port that no COM name reaches shows its device path there and is
// left out.
bool PortIsListed(const PortRecord& port);

// The list entry for one port: the text between the first "(" of its
// friendly name and the first ")" after it; the port name itself when the
// friendly name has no "(".
std::string PortEntryText(const PortRecord& port);

// The port number of an entry: atoi of the text after its first three
// characters (the letters COM); 0 when it is shorter or has no digits there.
int PortNumberOfEntry(const std::string& entry);

#endif  // VELMORA_UI_PORT_ENTRY_H_
