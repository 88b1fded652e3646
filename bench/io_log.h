// The simulator's I/O log (velmora-sim --io-log) read as a transfer: every
// chunk the simulator read from or wrote to its terminal, as
// "MICROS DIR COUNT HEX" lines, cut into the protocol's frames by the trace
// decoder (engine/trace_frames.h).
#ifndef VELMORA_BENCH_IO_LOG_H_
#define VELMORA_BENCH_IO_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

struct Request {
  uint32_t start = 0, end = 0;
  int64_t lastByteUs = 0;
};

struct Block {
  uint32_t address = 0;
  int64_t firstByteUs = 0;
};

// What the simulator's I/O log shows of a transfer, cut into the protocol's
// frames by the trace decoder: the block requests with the time of their
// last byte, the first block answering each (a run of blocks) with the time
// of its first byte, and the time of the last "PC"'s last byte (-1 when none
// came).
struct Transfer {
  std::vector<Request> requests;
  std::vector<Block> blocks;
  int64_t lastPcUs = -1;
};

// Reads the log at `path`, in the order the bytes moved; false, with the
// file and line in `why`, when a line does not parse.
bool ReadIoLog(const std::string& path, Transfer* transfer, std::string* why);

#endif  // VELMORA_BENCH_IO_LOG_H_
