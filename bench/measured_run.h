// Running a program and measuring it from outside: wall time, processor
// time (also of its children), peak resident memory. Linux only (/proc).
#ifndef VELMORA_BENCH_MEASURED_RUN_H_
#define VELMORA_BENCH_MEASURED_RUN_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// CLOCK_MONOTONIC, microseconds.
int64_t NowUs();

// Processor time a live process has used, nanoseconds; -1 when it cannot be
// read.
int64_t CpuNs(pid_t pid);

// The processor time of `pid` and of its children, nanoseconds.
int64_t TreeCpuNs(pid_t pid);

struct FwpRun {
  int status = -1;
  std::string out;
  int64_t wallUs = 0;         // spawn to exit
  int64_t cpuUs = 0;          // user + system over the whole run (wait4)
  int64_t maxRssBytes = 0;    // wait4's ru_maxrss
  int64_t windowWallUs = -1;  // between "Addr : " and "Programming time" on stdout
  int64_t windowCpuNs = -1;
};

// Runs fwp with `args` (fwp.exe under Wine when $VELMORA_WINE_FWP names it;
// $VELMORA_WINE the Wine loader), its standard error to `errPath`, watching
// its standard output for the transfer's start and end; kills it after
// `timeoutMs`.
FwpRun RunFwp(const std::vector<std::string>& args, const std::string& errPath, int timeoutMs);

#endif  // VELMORA_BENCH_MEASURED_RUN_H_
