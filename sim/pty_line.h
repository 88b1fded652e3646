// A receiver on a pseudo-terminal: the programmer opens the terminal's device
// as it would a serial port, and a LinePeer answers on the other side.
//
// The line owns the pair's controlling side and never keeps the device open
// itself, so the programmer's exclusive open works and the line can tell when
// a program has the device open: that is a session, from open to close.
//
// Each serve() call is one turn of at most about a millisecond: it waits for
// the programmer's bytes or the next millisecond tick, whichever comes first,
// hands what the programmer wrote to the peer at the speed the programmer has
// set on the device, then takes the peer's bytes for that moment and writes
// them to the device without blocking (bytes the device cannot take yet wait
// for the next turn). While no program has the device open the peer still
// runs, but its bytes are thrown away, as on a cable with nothing at the far
// end. Time is milliseconds of the monotonic clock since create().
//
// Line timing (on unless setLineTiming(false)): the line takes the
// programmer's bytes as a serial port's driver does. Its transmit buffer holds
// kTransmitBuffer bytes ahead of the wire, and the wire carries one byte per
// 10 bit times (8N1) at the programmer's speed; a turn reads from the device
// only as many bytes as the buffer has room for at that moment. Bytes not
// read stay queued in the kernel, and once that queue is full the
// programmer's writes block, as they do on hardware. A byte is handed to the
// peer when the buffer takes it, the time a driver would have accepted the
// write; the peer adds the wire's time itself (the receiver model stamps each
// byte with the moment it finished crossing), so the line never adds it a
// second time. Without line timing every turn reads all there is.
//
// What differs from hardware: the kernel's own pseudo-terminal queue takes
// bytes ahead of the transmit buffer, and nothing here can shrink it. Measured
// on Linux 6.18 by writing to the device without blocking while nobody reads
// the controlling side: 12928 bytes when written as the programmer writes
// blocks (3 + 4 + 1 + 256 bytes), 20480 when written a byte at a time. So the
// programmer's last write of a long request returns while about 17 KiB
// (12928 + 4096 bytes) have still to cross, where hardware would have 4 KiB
// left. The 12928 bytes alone take, against the 8 s reply time-out, 26.9 s of
// line at 4800 bit/s, 13.5 s at 9600, 6.7 s at 19200, 3.4 s at 38400, 2.2 s at
// 57600, 1.1 s at 115200 and 0.6 s at 230400.
//
// The kernel wakes a writer that its queue holds back only once the
// controlling side has read the queue down to its last 128 bytes. The line
// reads at the wire's rate in small steps every turn, so room appears in the
// queue all the while; a writer that waits at most 2 s for a wake-up and then
// tries again finds it. Measured with fwp: at 115200 bit/s its blocked writes
// were woken every 0.75 to 1.1 s; at 4800 bit/s (32 KiB requests) each of its
// 15 waits ran to its 2 s limit and then found room, and no write gave up.
//
// Speeds: the device's speed is read back after every read, so bytes are
// stamped with the speed in force when they were read; a programmer that
// writes at one speed and switches at once to another may see its last bytes
// taken at the new speed, and with line timing so may bytes that were still
// queued when it switched. Bytes the transmit buffer holds when the speed
// changes go out at the new speed.
//
// When the program closes the device, whatever it wrote and the line has not
// read yet is handed to the peer in that turn, so a session's bytes never
// reach the next session.
//
// An optional observer is told of every chunk the line moves through the
// device, stamped with the monotonic clock in microseconds, so that the time
// the programmer takes to answer can be measured finer than the peer's
// millisecond.
//
// Threads: one thread drives a line. serve() returns early when a signal
// arrives, so a flag set by a handler is seen within the turn. The observer is
// called on that thread, from inside serve().
#ifndef VELMORA_SIM_PTY_LINE_H_
#define VELMORA_SIM_PTY_LINE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/line_peer.h"

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Bytes a line with line timing takes ahead of the wire.
  static constexpr size_t kTransmitBuffer = 4096;

  // Whether the device can be set to `baud` bit/s.
  static bool IsLineRate(uint32_t baud);

  // Makes the pair, raw 8N1 at `baud` (a line rate) with no echo and no
  // processing either way, and starts the clock. False with a one-line reason
  // in `why` when the pair cannot be made.
  bool create(uint32_t baud, std::string* why);

  // Line timing, as described above; on until turned off. May be changed at
  // any time; bytes already taken keep their place on the wire.
  void setLineTiming(bool on) { lineTiming_ = on; }

  // The device path the programmer opens ("/dev/pts/3"); empty before create().
  const std::string& devicePath() const { return devicePath_; }

  enum class Event {
    kNone,
    kOpened,  // a program opened the device
    kClosed,  // the program closed it again (its last bytes were served first)
  };

  // One turn, as described above.
  Event serve(LinePeer& peer);

  // Milliseconds since create(), as handed to the peer.
  int64_t nowMs() const;
  // Whether a program had the device open at the last turn.
  bool programmerPresent() const { return present_; }
  // The speed the programmer last set on the device, bit/s (0 when it is none
  // the line knows).
  uint32_t baud() const { return baud_; }

  enum class Direction {
    kFromProgrammer,  // read from the device: bytes the programmer wrote
    kToProgrammer,    // written to the device: the peer's bytes, now readable by the programmer
  };
  // `monotonicUs` is CLOCK_MONOTONIC in microseconds, taken right after the
  // read or write returned; `data` holds `count` (at least 1) bytes and is
  // valid only during the call. The observer must not call into the line.
  using IoObserver =
      std::function<void(Direction, int64_t monotonicUs, const uint8_t* data, size_t count)>;
  // Tells `observer` of every chunk read from or written to the device from
  // now on; an empty function removes it. Bytes thrown away while no program
  // has the device open are never written, so the observer hears nothing of
  // them.
  void setIoObserver(IoObserver observer) { observer_ = std::move(observer); }

  // Closes the controlling side: the programmer's reads and writes then fail
  // and the device goes away. serve() does nothing afterwards.
  void hangUp();

 private:
  void readInput(LinePeer& peer, int64_t now, bool drain, bool* gone);
  void writeOutput(LinePeer& peer, int64_t now);
  void waitForTurn() const;
  // Bytes taken but not yet across the wire at `now`.
  int64_t heldBytes(int64_t now) const;
  // How many bytes a turn at `now` may read (SIZE_MAX without line timing).
  size_t transmitRoom(int64_t now) const;
  // `count` bytes read at `now`, at the speed last read back (baud_).
  void transmitTook(int64_t now, size_t count);

  int master_ = -1;
  std::string devicePath_;
  int64_t startNs_ = 0;
  bool present_ = false;
  uint32_t baud_ = 0;
  std::vector<uint8_t> pending_;  // the peer's bytes the device has not taken yet
  size_t pendingHead_ = 0;
  IoObserver observer_;
  bool lineTiming_ = true;
  // The transmit buffer: the bytes taken since the wire last fell idle, when
  // that was, and the speed they go out at.
  int64_t wireSinceMs_ = 0;
  int64_t wireBytes_ = 0;
  uint32_t wireBaud_ = 0;
};

#endif  // VELMORA_SIM_PTY_LINE_H_
