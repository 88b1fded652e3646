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
// Speeds: the device's speed is read back after every read, so bytes are
// stamped with the speed in force when they were read; a programmer that
// writes at one speed and switches at once to another may see its last bytes
// taken at the new speed.
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

  // Whether the device can be set to `baud` bit/s.
  static bool IsLineRate(uint32_t baud);

  // Makes the pair, raw 8N1 at `baud` (a line rate) with no echo and no
  // processing either way, and starts the clock. False with a one-line reason
  // in `why` when the pair cannot be made.
  bool create(uint32_t baud, std::string* why);

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
  void readInput(LinePeer& peer, int64_t now, bool* gone);
  void writeOutput(LinePeer& peer, int64_t now);
  void waitForTurn() const;

  int master_ = -1;
  std::string devicePath_;
  int64_t startNs_ = 0;
  bool present_ = false;
  uint32_t baud_ = 0;
  std::vector<uint8_t> pending_;  // the peer's bytes the device has not taken yet
  size_t pendingHead_ = 0;
  IoObserver observer_;
};

#endif  // VELMORA_SIM_PTY_LINE_H_
