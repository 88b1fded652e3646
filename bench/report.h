// The benchmark's tables, in Markdown on standard output, and the targets
// they judge.
#ifndef VELMORA_BENCH_REPORT_H_
#define VELMORA_BENCH_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/measured_run.h"

// One fwp against one simulator.
struct TransferResult {
  uint32_t baud = 0;
  size_t imageBytes = 0;
  double seconds = 0;
  double ofLine = 0, ofCeiling = 0;
  size_t requests = 0;
  double turnMedianUs = 0, turnP99Us = 0, turnMaxUs = 0;
  double cpuShare = -1;  // of one core, during the transfer
  int64_t maxRssBytes = 0;
  int64_t traceBytes = -1;  // the trace's size; -1 untraced
};

// Many receivers at once: velmora-line against N simulators (each in its
// loader at 230400, line timing on), each port's throughput from its
// simulator's I/O log as for one fwp.
struct ManyResult {
  int ports = 0;
  double perPortMean = 0;   // image bytes per second, the mean over the ports
  double aggregate = 0;     // N images over the first block's first byte to the last PC
  double startSpreadS = 0;  // from the earliest port's first block to the latest port's
  double cpuPerPort = -1;   // share of a core per receiver while every port transfers
};

// "64 KiB", "1 MiB".
std::string Size(size_t bytes);

// The single-port table for requests of `requestSize` bytes, the silent
// line's row, and the targets.
void Report(const std::vector<TransferResult>& results, const FwpRun& wait, uint32_t requestSize);

// Each untraced run next to the traced run made straight after it.
void ReportTrace(const std::vector<TransferResult>& plain,
                 const std::vector<TransferResult>& traced);

// The same transfer through a USB adapter whose latency timer is 1 ms (the
// low-latency mode) and 16 ms (the default), at each rate: pairs of the
// timer's milliseconds and the run.
void ReportLatency(const std::vector<std::pair<int, TransferResult>>& results,
                   uint32_t requestSize);

// One table per image size; the targets are judged for the 64 KiB rows only.
void ReportMany(const std::vector<ManyResult>& results, size_t imageBytes, bool judged);

#endif  // VELMORA_BENCH_REPORT_H_
