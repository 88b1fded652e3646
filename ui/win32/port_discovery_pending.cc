// Built only while this Windows build's serial library has no port
// discovery: the dialog then says so in its "Velmora" box and lists nothing.
#include "serial/port_discovery.h"

void discoverPorts(PortList& list, bool) {
  list.clear();
  throw PortDiscoveryError("Port discovery is not part of this build.");
}
