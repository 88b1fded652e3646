// A serial line on virtual time, for driving the engine in unit tests.
//
// VirtualClock stands in for the engine's clock. VirtualLine stands in for the
// serial device: writes go to a LinePeer (a scripted or modelled receiver),
// reads come from it, and a read that finds nothing lets one virtual
// millisecond pass, as a real read waits out its 1 ms time-out (or, with the
// clock's skipIdle, all the time until the peer's next byte or the wait's
// end at once). So an 8000 ms
// time-out costs no wall time and is exact to the millisecond. Every call the
// engine makes on the line is logged with its virtual time. A peer whose line
// has gone (LinePeer::goneForGood) fails the writes, and the line reports gone
// once the peer's last bytes have been read.
//
// Threads: one test thread.
#ifndef VELMORA_TESTS_VIRTUAL_LINE_H_
#define VELMORA_TESTS_VIRTUAL_LINE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "serial/serial_port.h"
#include "sim/line_peer.h"

class VirtualClock : public Clock {
 public:
  // Counted modulo 2^32, as the engine reads its clock.
  int32_t nowMs() override { return static_cast<int32_t>(now_); }
  void idle() override { passIdle(UINT64_MAX); }
  void waiting(bool waiting, int32_t timeUpMs) override {
    waiting_ = waiting;
    timeUp_ = static_cast<uint32_t>(timeUpMs);
  }
  void advance(int32_t ms) { now_ += static_cast<uint32_t>(ms); }

  // Lets the time pass that a read which found nothing (or Delay's idle
  // step) takes: 1 ms. With `skipIdle`, while the engine waits (Clock::waiting),
  // as much as passes before whichever comes first, the line's next byte
  // `nextByteInMs` from now or the wait's time-up, and at least 1 ms: the
  // same readings of the clock that the engine would see a millisecond at a
  // time, at a fraction of the cost. Returns the milliseconds that passed.
  uint64_t passIdle(uint64_t nextByteInMs);

  // Off by default: unit tests see every millisecond pass. The fuzz targets
  // turn it on.
  bool skipIdle = false;

 private:
  uint32_t now_ = 0;
  bool waiting_ = false;
  uint32_t timeUp_ = 0;
};

// One call the engine made on the line.
struct LineEvent {
  enum Kind { kOpen, kBaud, kDrain, kWrite, kClose } kind;
  int32_t timeMs;
  uint32_t baud;               // the line speed in force after the call
  std::vector<uint8_t> bytes;  // kWrite: the bytes written
};

class VirtualLine : public SerialLink {
 public:
  VirtualLine(VirtualClock& clock, LinePeer& peer, uint32_t baud, std::vector<LineEvent>& log);
  ~VirtualLine() override;

  void setBaudRate(uint32_t baud) override;
  void drain() override;
  bool write(const void* data, size_t count) override;
  size_t read(void* buffer, size_t count) override;
  // Gone once the peer's line has gone and a read found nothing left.
  bool gone() const override { return gone_; }

 private:
  VirtualClock& clock_;
  LinePeer& peer_;
  uint32_t baud_;
  std::vector<LineEvent>& log_;
  bool gone_ = false;
};

// Opens VirtualLines onto one peer. Installed with SerialPort::setOpener and
// SetEngineClock for the life of a test.
class VirtualPortOpener : public PortOpener {
 public:
  explicit VirtualPortOpener(LinePeer& peer);
  ~VirtualPortOpener() override;

  std::unique_ptr<SerialLink> open(const char* portName, uint32_t baud, std::string* why) override;

  VirtualClock clock;
  std::vector<LineEvent> log;
  std::vector<std::string> openedNames;
  bool refuse = false;  // every open fails, as a missing device does

  // Every byte written, concatenated.
  std::vector<uint8_t> written() const;
  // The writes only, one entry per write call.
  std::vector<std::vector<uint8_t>> writes() const;

 private:
  LinePeer& peer_;
};

#endif  // VELMORA_TESTS_VIRTUAL_LINE_H_
