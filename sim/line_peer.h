// The receiver's end of a serial line, as the programmer's side sees it.
//
// A peer takes the bytes the programmer wrote and gives back the bytes the
// receiver sent, each stamped with the time and the programmer's line speed,
// so that one receiver model serves a virtual line in unit tests (virtual
// milliseconds, called from the test's thread) and a pseudo-terminal in the
// simulator (wall-clock milliseconds). Abstract so that scripted receivers and
// the simulated one plug into the same lines.
//
// Threads: a peer is driven from one thread at a time.
#ifndef VELMORA_SIM_LINE_PEER_H_
#define VELMORA_SIM_LINE_PEER_H_

#include <cstddef>
#include <cstdint>

class LinePeer {
 public:
  virtual ~LinePeer() = default;

  // The programmer wrote `count` bytes at `baud` bits per second; `nowMs` is
  // when the write was made. Times never go backwards between calls.
  virtual void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) = 0;

  // Up to `count` of the receiver's bytes that have arrived at the
  // programmer's end by `nowMs`, as read at the programmer's `baud`. Returns
  // how many were placed in `buffer`; 0 when none has arrived.
  virtual size_t transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) = 0;

  // Whether the line has gone away (the receiver was unplugged) and nothing
  // more is on its way to the programmer: its writes then fail, and once it
  // has read what already arrived, the device is gone.
  virtual bool goneForGood() const { return false; }

  // Asked right after a transmit at `nowMs` that gave nothing: the earliest
  // time at which transmit could give a byte if the programmer writes nothing
  // more, INT64_MAX for never. A virtual line lets the time up to then pass in
  // one step while the programmer waits. A peer that cannot tell answers
  // `nowMs` + 1 (the default): time then passes a millisecond at a time.
  virtual int64_t nextByteMs(int64_t nowMs) const { return nowMs + 1; }
};

#endif  // VELMORA_SIM_LINE_PEER_H_
