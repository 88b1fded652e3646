// Which devices are serial ports, told before any is opened.
//
// Opening a device can do things of its own (opening a watchdog arms it,
// opening /dev/ptmx makes a new pseudo-terminal), and a terminal put into
// raw mode by mistake is the user's own. So a path is opened as a port only
// once its name has shown a serial port:
//   - a character device of the tty class: /sys/dev/char/MAJOR:MINOR/subsystem
//     links to .../class/tty (UARTs, USB serial adapters, modem-class devices);
//   - or a pseudo-terminal's terminal side, majors 136 to 143, which sysfs does
//     not list (velmora-sim serves one).
// Of the tty class, these are terminals but no serial ports, and are refused:
// /dev/tty, /dev/console and /dev/ptmx (5:0 to 5:2), and the virtual consoles
// /dev/tty0 to /dev/tty63 (4:0 to 4:63).
//
// The check reads the name; the opener compares the device it then opened
// with the one checked (st_rdev), so a name swapped in between is refused.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_SERIAL_SERIAL_DEVICE_POSIX_H_
#define VELMORA_SERIAL_SERIAL_DEVICE_POSIX_H_

#include <sys/types.h>

#include <string>

// Why the character device `device` (a st_rdev value) is no serial port,
// with the tty class looked up under `sysRoot` ("/sys"): "" when it is one,
// else a short phrase such as "a device of class mem" or "the system
// console".
std::string NotASerialDevice(dev_t device, const std::string& sysRoot);

// Looks at what `path` names (following links, as the open will) without
// opening it. Returns "" and the device in `*device` when it is a serial
// port as above; otherwise the reason for the user, naming it by `label`:
// "/dev/ptmx is not a serial port (the pseudo-terminal multiplexer)".
// Returns "" with `*device` 0 when the name cannot be looked at (missing,
// no permission): opening it then fails with the reason the open gives.
std::string CheckSerialPortPath(const std::string& path, const std::string& label, dev_t* device);

#endif  // VELMORA_SERIAL_SERIAL_DEVICE_POSIX_H_
