// The pseudo-terminal line on POSIX.
//
// Presence is read from the controlling side: once the device has been opened
// and closed, poll() reports POLLHUP on the controlling side for as long as no
// program has the device open. create() opens the device once and closes it
// again so that this holds from the start. On Linux the controlling side's
// terminal settings are the device's, so tcgetattr there shows the speed the
// programmer set.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "serial/termios_speed-posix.h"
#include "sim/pty_line.h"

namespace {

constexpr int64_t kNsPerMs = 1'000'000;
// The most of the peer's bytes held back while the device is full; beyond
// that the peer keeps them (and drops what its own buffer cannot hold).
constexpr size_t kMaxPending = 4096;

int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

int64_t MonotonicUs() {
  return MonotonicNs() / 1000;
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + strerror(errno);
}

void MakeRaw(termios* t, speed_t speed) {
  cfmakeraw(t);
  t->c_cflag |= CLOCAL | CREAD;
  t->c_cflag &= ~(HUPCL | CRTSCTS);
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
  cfsetispeed(t, speed);
  cfsetospeed(t, speed);
}

}  // namespace

PtyLine::~PtyLine() {
  hangUp();
}

bool PtyLine::IsLineRate(uint32_t baud) {
  speed_t speed;
  // From 300 bit/s up: slower rates are no use to a receiver.
  return baud >= 300 && TermiosSpeedForBaud(baud, &speed);
}

bool PtyLine::create(uint32_t baud, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    hangUp();
    return false;
  };
  speed_t speed;
  if (!IsLineRate(baud) || !TermiosSpeedForBaud(baud, &speed))
    return fail(std::to_string(baud) + " is not a line rate");
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return fail(ErrnoText("cannot create a pseudo-terminal"));
  if (grantpt(master_) != 0 || unlockpt(master_) != 0)
    return fail(ErrnoText("cannot unlock the pseudo-terminal"));
  const char* name = ptsname(master_);
  if (name == nullptr) return fail(ErrnoText("cannot name the pseudo-terminal"));
  devicePath_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
    return fail(ErrnoText("cannot make the pseudo-terminal non-blocking"));
  termios t;
  if (tcgetattr(master_, &t) != 0) return fail(ErrnoText("cannot read the terminal settings"));
  MakeRaw(&t, speed);
  if (tcsetattr(master_, TCSANOW, &t) != 0)
    return fail(ErrnoText("cannot set the terminal settings"));
  // One open and close, so that "no program has it open" shows as POLLHUP.
  const int device = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (device < 0) return fail(ErrnoText(("cannot open " + devicePath_).c_str()));
  close(device);
  baud_ = baud;
  present_ = false;
  startNs_ = MonotonicNs();
  return true;
}

int64_t PtyLine::nowMs() const {
  return (MonotonicNs() - startNs_) / kNsPerMs;
}

void PtyLine::hangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
  present_ = false;
  pending_.clear();
  pendingHead_ = 0;
  wireBytes_ = 0;
}

int64_t PtyLine::heldBytes(int64_t now) const {
  if (wireBaud_ == 0) return 0;  // a speed the line does not know moves bytes at once
  // 10 bits a byte: baud / 10 bytes a second, baud / 10000 a millisecond.
  const int64_t sent = (now - wireSinceMs_) * wireBaud_ / 10'000;
  return std::max<int64_t>(wireBytes_ - sent, 0);
}

size_t PtyLine::transmitRoom(int64_t now) const {
  if (!lineTiming_) return SIZE_MAX;
  return kTransmitBuffer - static_cast<size_t>(std::min<int64_t>(heldBytes(now), kTransmitBuffer));
}

// Bytes still held go out at the speed now in force, from now on; a wire that
// has fallen idle starts again from now.
void PtyLine::transmitTook(int64_t now, size_t count) {
  const int64_t held = heldBytes(now);
  if (held == 0 || baud_ != wireBaud_) {
    wireSinceMs_ = now;
    wireBytes_ = held;
    wireBaud_ = baud_;
  }
  wireBytes_ += static_cast<int64_t>(count);
}

// Until the programmer's bytes come (while the transmit buffer has room for
// them), the device has room for held-back bytes, or the next millisecond
// tick, whichever is first. A full transmit buffer waits for the tick: the
// device would report its queued bytes at once and the turn would spin. With
// no program on the device there is nothing to wait for but the tick (the
// controlling side reports POLLHUP at once), so it just sleeps.
void PtyLine::waitForTurn() const {
  const int64_t elapsed = MonotonicNs() - startNs_;
  const int64_t left = (elapsed / kNsPerMs + 1) * kNsPerMs - elapsed;
  const timespec timeout = {0, static_cast<long>(left)};
  if (master_ >= 0 && present_) {
    const bool room = transmitRoom(elapsed / kNsPerMs) > 0;
    const bool output = pendingHead_ < pending_.size();
    pollfd p = {master_, static_cast<short>((room ? POLLIN : 0) | (output ? POLLOUT : 0)), 0};
    ppoll(&p, 1, &timeout, nullptr);
  } else {
    ppoll(nullptr, 0, &timeout, nullptr);
  }
}

PtyLine::Event PtyLine::serve(LinePeer& peer) {
  waitForTurn();
  if (master_ < 0) return Event::kNone;
  pollfd p = {master_, POLLIN, 0};
  poll(&p, 1, 0);
  const bool hungUp = (p.revents & (POLLHUP | POLLERR)) != 0;
  const int64_t now = nowMs();
  Event event = Event::kNone;
  if (!present_ && !hungUp) {
    present_ = true;
    event = Event::kOpened;
  }
  bool gone = false;
  // A program that has gone leaves all it wrote to be read now.
  if (present_) readInput(peer, now, hungUp, &gone);
  if (present_ && event != Event::kOpened && (hungUp || gone)) {
    present_ = false;
    event = Event::kClosed;
  }
  writeOutput(peer, now);
  return event;
}

// Reads as much as the transmit buffer has room for, or with `drain` all there
// is, and hands it to the peer.
void PtyLine::readInput(LinePeer& peer, int64_t now, bool drain, bool* gone) {
  uint8_t buffer[4096];
  for (;;) {
    const size_t room = drain ? SIZE_MAX : transmitRoom(now);
    if (room == 0) return;
    const ssize_t n = read(master_, buffer, std::min(room, sizeof buffer));
    if (n > 0) {
      if (observer_)
        observer_(Direction::kFromProgrammer, MonotonicUs(), buffer, static_cast<size_t>(n));
      // The speed in force now, not before the read: a programmer sets its
      // speed first and then writes.
      termios t;
      if (tcgetattr(master_, &t) == 0) baud_ = BaudForTermiosSpeed(cfgetospeed(&t));
      transmitTook(now, static_cast<size_t>(n));
      peer.receive(now, baud_, buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    *gone = true;  // EIO: the program has closed the device
    return;
  }
}

void PtyLine::writeOutput(LinePeer& peer, int64_t now) {
  termios t;
  if (tcgetattr(master_, &t) == 0) baud_ = BaudForTermiosSpeed(cfgetospeed(&t));
  uint8_t buffer[kMaxPending];
  const size_t room = kMaxPending - (pending_.size() - pendingHead_);
  const size_t n = peer.transmit(now, baud_, buffer, room);
  if (!present_) {
    pending_.clear();
    pendingHead_ = 0;
    return;
  }
  pending_.insert(pending_.end(), buffer, buffer + n);
  while (pendingHead_ < pending_.size()) {
    const ssize_t written =
        write(master_, pending_.data() + pendingHead_, pending_.size() - pendingHead_);
    if (written > 0) {
      if (observer_) {
        observer_(Direction::kToProgrammer, MonotonicUs(), pending_.data() + pendingHead_,
                  static_cast<size_t>(written));
      }
      pendingHead_ += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    pendingHead_ = pending_.size();  // the device has gone: nobody to hear them
  }
  if (pendingHead_ == pending_.size()) {
    pending_.clear();
    pendingHead_ = 0;
  } else if (pendingHead_ > kMaxPending) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingHead_));
    pendingHead_ = 0;
  }
}
