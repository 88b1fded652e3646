#include "serial/low_latency-posix.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

int SerialFlags(int fd) {
  serial_struct s{};
  if (::ioctl(fd, TIOCGSERIAL, &s) != 0) return -1;
  return s.flags & 0x7FFFFFFF;
}

bool LowLatencyOn(int flags) {
  return flags >= 0 && (flags & static_cast<int>(ASYNC_LOW_LATENCY)) != 0;
}

bool SetLowLatency(int fd, bool on) {
  // The driver's own record, changed in one bit: a user without root may
  // change only the flags a user may (low latency among them), and any other
  // field read back and written unchanged is no change.
  serial_struct s{};
  if (::ioctl(fd, TIOCGSERIAL, &s) != 0) return false;
  if (((s.flags & ASYNC_LOW_LATENCY) != 0) == on) return true;
  const int bit = static_cast<int>(ASYNC_LOW_LATENCY);
  s.flags = on ? (s.flags | bit) : (s.flags & ~bit);
  return ::ioctl(fd, TIOCSSERIAL, &s) == 0;
}
