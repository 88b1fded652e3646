// velmora-ports: lists the serial ports that Velmora finds, one line each.
//
// Each line holds five fields separated by tabs: the COM name ("-" when the
// port dialog offers none; velmora_ports.h), the device path, the friendly
// name the port dialog shows, "usb" or "-", and the description. The order is the dialog's.
#include "apps/velmora_ports.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "serial/port_discovery.h"
#include "serial/standard_descriptors.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  CLI::App app(
      "Lists the serial ports present, one line each, fields separated by tabs:\n"
      "COM name, device path, friendly name, usb or -, description.",
      "velmora-ports");
  app.set_help_flag("-h,--help", "this text");
  app.allow_extras();
  app.get_formatter()->column_width(14);
  bool requireOpenable = false;
  app.add_flag("--openable", requireOpenable,
               "only the ports that can be opened right now (each is opened\n"
               "and closed again; nothing about it changes)")
      ->disable_flag_override();
  bool bad = false;
  try {
    app.parse(argc, argv);
    bad = !app.remaining().empty();
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError&) {
    bad = true;
  }
  if (bad) {
    // The first word that is none of the options.
    int i = 1;
    while (i < argc && (argv[i] == std::string("--openable") || argv[i] == std::string("-h") ||
                        argv[i] == std::string("--help")))
      ++i;
    std::fprintf(stderr, "velmora-ports: unknown argument \"%s\"\n%s", i < argc ? argv[i] : "",
                 app.help().c_str());
    return 2;
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
