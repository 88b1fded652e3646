// vm-probe: what the virtual machine's cases (tests/vm/cases.sh) read of the
// port records that velmora-ports does not print.
//
//   vm-probe serials    one line per port: COM name, device path and the USB
//                       serial number ("-" when it has none), tab-separated
#include <cstdio>
#include <cstring>

#include "serial/port_discovery.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "serials") != 0) {
    std::fprintf(stderr, "usage: vm-probe serials\n");
    return 2;
  }
  PortList ports;
  try {
    discoverPorts(ports, false);
  } catch (const PortDiscoveryError& error) {
    std::fprintf(stderr, "vm-probe: %s\n", error.what());
    return 1;
  }
  for (const PortRecord& port : ports) {
    std::printf("%s\t%s\t%s\n", port.portName.c_str(), port.devicePath.c_str(),
                port.serialNumber.empty() ? "-" : port.serialNumber.c_str());
  }
  return 0;
}
