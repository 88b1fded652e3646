// A USB-serial adapter's latency timer, between the receiver and the
// programmer.
//
// An FTDI-style adapter holds the bytes it receives from the line until 62
// are pending (a 64-byte USB packet less its two status bytes) or its latency
// timer has run out, counted from the first byte it holds; then it sends what
// it holds, in packets of at most 62 bytes. So a reply shorter than 62 bytes,
// such as the loader's 10-byte block request, reaches the programmer up to
// the latency later than it crossed the line: 16 ms by default on Windows
// and Linux alike, 1 ms in Linux's low-latency mode.
//
// AdapterLatency wraps the receiver's LinePeer and applies that rule to the
// bytes going to the programmer; the programmer's bytes pass straight
// through. Times are the caller's milliseconds, as for any LinePeer.
//
// Threads: none inside; driven like the peer it wraps.
#ifndef VELMORA_SIM_ADAPTER_LATENCY_H_
#define VELMORA_SIM_ADAPTER_LATENCY_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/line_peer.h"

class AdapterLatency : public LinePeer {
 public:
  // Bytes an adapter sends at once, without waiting for its timer.
  static constexpr size_t kPacketBytes = 62;

  // `receiver` must outlive this object. `latencyMs` from 1.
  AdapterLatency(LinePeer& receiver, int latencyMs) : receiver_(receiver), latencyMs_(latencyMs) {}

  void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) override {
    receiver_.receive(nowMs, baud, data, count);
  }
  size_t transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) override;
  bool goneForGood() const override {
    return receiver_.goneForGood() && held_.empty() && readyHead_ == ready_.size();
  }

 private:
  LinePeer& receiver_;
  const int64_t latencyMs_;
  std::vector<uint8_t> held_;   // in the adapter, not sent yet
  int64_t firstHeldMs_ = 0;     // when the first of them arrived
  std::vector<uint8_t> ready_;  // sent, not yet taken by the caller
  size_t readyHead_ = 0;
};

#endif  // VELMORA_SIM_ADAPTER_LATENCY_H_
