// The serial link on a POSIX terminal device.
//
// Only a serial port is opened: the name is checked first
// (serial_device-posix.h), and what opened must be the device checked. A port
// is opened without becoming the controlling terminal and without waiting for
// carrier, and only when nobody else holds it (port_holders.h:
// another's exclusive mode, lock or open descriptor, root included). It is
// then kept for this process alone: flock(LOCK_EX) keeps out every program
// that also locks, and TIOCEXCL makes the kernel refuse further opens by
// anyone but root. The line is put into raw
// 8N1: no input or output processing, no flow control of any kind, modem
// lines ignored (CLOCAL), no hang-up on close, and VMIN = VTIME = 0 so the
// driver never holds a read back.
//
// The descriptor stays non-blocking. Reads wait in poll() for at most the
// rest of their millisecond; writes wait in poll() for room, and give up once
// the device has taken nothing for two seconds, so a dead line cannot hang the
// programmer.
//
// A line whose device reports an error or a hang-up, or that takes nothing
// for those two seconds, is going: from then on writes fail at once, so that
// the programmer does not wait out each write, and once a read finds nothing
// more to take (what arrived before still counts), it has gone (gone()).
//
// The driver is asked for its low-latency mode (low_latency-posix.h), which
// takes up to 15 ms off each of the loader's requests through an FTDI
// adapter; a driver that has no such mode or refuses it is no failure.
//
// The settings the device had before the open, and the driver's low-latency
// mode, are put back when the link is closed, and by RestoreSavedTerminals()
// when a signal ends the process.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "serial/line_state.h"
#include "serial/low_latency-posix.h"
#include "serial/port_holders.h"
#include "serial/port_names.h"
#include "serial/saved_terminals-posix.h"
#include "serial/serial_device-posix.h"
#include "serial/serial_port.h"
#include "serial/termios_speed-posix.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long a read waits for its bytes.
constexpr auto kReadTimeout = std::chrono::milliseconds(1);
// How long a write waits for a device that takes nothing.
constexpr auto kWriteStall = std::chrono::seconds(2);
// How often a waiting write tries again, milliseconds.
constexpr int kWriteRetryMs = 5;

// Raw 8N1 at `speed`, every other setting of `t` that matters cleared.
void MakeRaw8N1(termios* t, speed_t speed) {
  t->c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  t->c_oflag &= ~OPOST;
  t->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  t->c_cflag |= CS8 | CLOCAL | CREAD;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
  cfsetispeed(t, speed);
  cfsetospeed(t, speed);
}

// Whether the device reports the settings the link depends on: speed, 8N1,
// modem lines ignored, receiver on, no hardware flow control. The rest of the
// raw mode is not read back; drivers are free to report unsupported flags as
// they like. (A pseudo-terminal reports 8 data bits and no parity whatever it
// was asked, so on one the check covers speed, stop bits and flow control.)
bool SettingsTook(const termios& t, speed_t speed) {
  return cfgetospeed(&t) == speed && (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB) &&
         !(t.c_cflag & CSTOPB) && (t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) &&
         !(t.c_cflag & CRTSCTS);
}

// Milliseconds for poll() until `deadline`, rounded up so that a wait never
// ends before it; 0 once it has passed.
int PollMs(SteadyClock::time_point deadline) {
  const auto left = deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

class PosixSerialLink : public SerialLink {
 public:
  // Takes `fd`, whose settings before the open were `original`.
  PosixSerialLink(int fd, const termios& original)
      : fd_(fd), original_(original), savedSlot_(RememberTerminal(fd, original)) {}

  ~PosixSerialLink() override {
    // What was written goes out at the speed it was written at before the
    // device gets its own settings back; a gone line has nothing to send.
    if (!line_.gone()) ::tcdrain(fd_);
    if (lowLatencySet_) SetLowLatency(fd_, false);
    ::tcsetattr(fd_, TCSANOW, &original_);
    ForgetTerminal(savedSlot_);
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

  bool gone() const override { return line_.gone(); }

  // Low-latency mode on for as long as the link is open, when the driver has
  // it and it was off.
  void enterLowLatency() {
    const int flags = SerialFlags(fd_);
    if (flags < 0 || LowLatencyOn(flags)) return;
    RememberLowLatencyOff(savedSlot_);
    lowLatencySet_ = SetLowLatency(fd_, true);
  }

  void setBaudRate(uint32_t baud) override {
    speed_t speed;
    termios t;
    if (!TermiosSpeedForBaud(baud, &speed) || ::tcgetattr(fd_, &t) != 0) return;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    ::tcsetattr(fd_, TCSANOW, &t);
    ::tcdrain(fd_);
  }

  void drain() override { ::tcdrain(fd_); }

  bool write(const void* data, size_t count) override {
    if (line_.writeFailed()) return false;
    const uint8_t* next = static_cast<const uint8_t*>(data);
    size_t left = count;
    auto lastProgress = SteadyClock::now();
    while (left > 0) {
      const ssize_t written = ::write(fd_, next, left);
      if (written > 0) {
        next += written;
        left -= static_cast<size_t>(written);
        lastProgress = SteadyClock::now();
        continue;
      }
      if (written < 0 && errno == EINTR) continue;
      if (written == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return line_.failWrite();
      const int waitMs = PollMs(lastProgress + kWriteStall);
      if (waitMs == 0) return line_.failWrite();  // took nothing for two seconds
      // In short steps, trying the write again after each: some drivers (a
      // pseudo-terminal's) report room only once their queue is nearly
      // empty, long after they could take more.
      pollfd p = {fd_, POLLOUT, 0};
      if (::poll(&p, 1, std::min(waitMs, kWriteRetryMs)) < 0 && errno != EINTR)
        return line_.failWrite();
      if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return line_.failWrite();
    }
    return true;
  }

  size_t read(void* buffer, size_t count) override {
    uint8_t* into = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    const auto deadline = SteadyClock::now() + kReadTimeout;
    while (got < count) {
      // Waits before it reads, so that a millisecond in which nothing arrives
      // costs a single call.
      pollfd p = {fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, PollMs(deadline));
      if (ready < 0) {
        if (errno == EINTR) continue;
        return line_.failRead(deadline, got);
      }
      if (ready == 0) {
        // Nothing more in time; once the line is going, it has gone.
        if (line_.writeFailed() && got == 0) return line_.failRead(deadline, got);
        break;
      }
      // With VMIN = VTIME = 0 an empty queue reads as 0 bytes, or as EAGAIN.
      // Any other error (EIO once the device has gone) ends the read, and so
      // does a hang-up, once what was still queued has been taken.
      const ssize_t n = ::read(fd_, into + got, count - got);
      if (n > 0) got += static_cast<size_t>(n);
      if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) ||
          (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
        return line_.failRead(deadline, got);
    }
    return got;
  }

 private:
  const int fd_;
  const termios original_;
  const int savedSlot_;
  bool lowLatencySet_ = false;
  LineState line_;
};

// `path` as the user knows it: with the port name they gave when it differs.
std::string Label(const std::string& path, const std::string& portName) {
  return path == portName ? path : path + " (" + portName + ")";
}

std::string OpenFailure(int error, const std::string& path, const std::string& label) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "permission denied on " + label +
             "; add yourself to the dialout group (sudo usermod -aG dialout $USER) and log in "
             "again";
    case EBUSY:
      return BusyReason(path, label);
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return "no such device: " + label;
    default:
      return "cannot open " + label + ": " + std::strerror(error);
  }
}

class PosixPortOpener : public PortOpener {
 public:
  std::unique_ptr<SerialLink> open(const char* portName, uint32_t baud, std::string* why) override {
    std::string reason;
    std::unique_ptr<SerialLink> link = tryOpen(portName ? portName : "", baud, &reason);
    if (!link && why) *why = reason;
    return link;
  }

 private:
  static std::unique_ptr<SerialLink> tryOpen(const std::string& portName, uint32_t baud,
                                             std::string* why) {
    const std::string path = DevicePathForPort(portName, why);
    if (path.empty()) return nullptr;
    const std::string label = Label(path, portName);
    speed_t speed;
    if (!TermiosSpeedForBaud(baud, &speed)) {
      *why = "cannot open " + label + " at " + std::to_string(baud) +
             " bps: the device has no such rate";
      return nullptr;
    }
    // Only a serial port is opened at all (serial_device-posix.h).
    dev_t device = 0;
    *why = CheckSerialPortPath(path, label, &device);
    if (!why->empty()) return nullptr;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      *why = OpenFailure(errno, path, label);
      return nullptr;
    }
    auto fail = [fd, why](std::string text) {
      ::close(fd);
      *why = std::move(text);
      return nullptr;
    };
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != device)
      return fail(label + " is not a serial port (it changed while it was opened)");
    termios t;
    if (::tcgetattr(fd, &t) != 0) {
      return fail(errno == ENOTTY
                      ? label + " is not a serial port"
                      : "cannot read the line settings of " + label + ": " + std::strerror(errno));
    }
    // Before our own TIOCEXCL, which would read as another holder's.
    std::string busy;
    if (!ClaimPort(fd, label, /*keepLock=*/true, &busy)) return fail(busy);
    if (::ioctl(fd, TIOCEXCL) != 0) {
      return fail("cannot get exclusive use of " + label + ": " + std::strerror(errno));
    }
    // From here on the link owns the descriptor and its destructor undoes
    // the lock and the exclusive mode.
    auto link = std::make_unique<PosixSerialLink>(fd, t);
    MakeRaw8N1(&t, speed);
    termios applied;
    if (::tcsetattr(fd, TCSANOW, &t) != 0 || ::tcgetattr(fd, &applied) != 0 ||
        !SettingsTook(applied, speed)) {
      *why = "cannot set " + label + " to " + std::to_string(baud) + " bps 8N1";
      return nullptr;
    }
    link->enterLowLatency();
    link->drain();
    return link;
  }
};

}  // namespace

PortOpener& PlatformPortOpener() {
  static PosixPortOpener opener;
  return opener;
}
