// velmora-ports: lists the serial ports that Velmora finds, one line each.
//
// Each line holds five fields separated by tabs: the COM name ("-" when the
// port dialog offers none; velmora_ports.h), the device path, the friendly
// name the port dialog shows, "usb" or "-", and the description. The order is the dialog's.
#include "apps/velmora_ports.h"

#include <cstdio>
#include <cstring>

#include "serial/port_discovery.h"
#include "serial/standard_descriptors.h"

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: velmora-ports [--openable]\n"
               "Lists the serial ports present, one line each, fields separated by tabs:\n"
               "  COM name, device path, friendly name, usb or -, description.\n"
               "  --openable  only the ports that can be opened right now (each is opened\n"
               "              and closed again; nothing about it changes)\n"
               "  --help      this text\n");
}

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  bool requireOpenable = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--openable") == 0) {
      requireOpenable = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "velmora-ports: unknown argument \"%s\"\n", argv[i]);
      PrintUsage(stderr);
      return 2;
    }
  }

  PortList ports;
  try {
    discoverPorts(ports, requireOpenable);
  } catch (const PortDiscoveryError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  for (const PortRecord& port : ports) {
    std::printf("%s\t%s\t%s\t%s\t%s\n", ComNameField(port).c_str(), port.devicePath.c_str(),
                port.friendlyName.c_str(), port.isUsb ? "usb" : "-", port.description.c_str());
  }
  if (ports.empty()) {
    std::fprintf(stderr, requireOpenable ? "velmora-ports: no serial port can be opened\n"
                                         : "velmora-ports: no serial ports found\n");
  }
  return 0;
}
