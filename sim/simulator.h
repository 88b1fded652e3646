// velmora-sim's run: the simulated receiver served on a pseudo-terminal,
// session after session, with its COM alias and its records.
//
// start() opens the records (--log, --io-log, --flash-out), makes the
// terminal and claims the alias, then prints the device path and the COM
// name on standard output; serve() serves programmers that open the device,
// one session (open to close) after another, until asked to stop, until the
// first session ends with --once, or until the line goes away. Every way out
// writes the records and removes the alias. Status goes to standard error,
// one line each, after "velmora-sim: ".
//
// Threads: one thread drives a simulator; `stopSignal` is called on it, once
// per turn of the line (about a millisecond, or sooner when a signal comes).
#ifndef VELMORA_SIM_SIMULATOR_H_
#define VELMORA_SIM_SIMULATOR_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "serial/port_aliases.h"
#include "sim/adapter_latency.h"
#include "sim/pty_line.h"
#include "sim/receiver_model.h"
#include "sim/sim_options.h"
#include "sim/transcript_log.h"

class Simulator {
 public:
  // `options` must outlive the simulator.
  explicit Simulator(const SimOptions& options) : options_(options), model_(options.receiver) {
    if (options.adapterLatencyMs > 0) adapter_.emplace(model_, options.adapterLatencyMs);
  }

  // start(), then serve(); 1 when start() failed, with the records written
  // and the alias removed all the same.
  int run(const std::function<int()>& stopSignal);

  // False, with the reason on standard error, when a record file, the
  // terminal or the alias cannot be had.
  bool start();

  // Serves until `stopSignal` returns a signal (0 while none has asked to
  // stop), the session ends with --once, or the line goes away; then writes
  // the records and removes the alias. 0 when it ended so, 1 when a record
  // could not be written.
  int serve(const std::function<int()>& stopSignal);

  const std::string& devicePath() const { return line_.devicePath(); }

 private:
  bool openRecords();
  std::string describeStart() const;
  void event(const std::string& what);
  // The serving loop; returns the exit status.
  int serveSessions(const std::function<int()>& stopSignal);
  // Writes the records and removes the alias; returns `status`, or 1 when a
  // record could not be written.
  int finish(int status);
  // Long enough for a block request (ten bytes) to cross the line twice over.
  int64_t goneDelayMs() const;

  const SimOptions& options_;
  ReceiverModel model_;
  std::optional<AdapterLatency> adapter_;  // between the model and the line, when asked for
  PtyLine line_;
  // Held for the program's life: the alias is followed only while it runs.
  LivePortAlias alias_;
  FILE* logFile_ = nullptr;
  std::optional<TranscriptLog> log_;
  FILE* ioLogFile_ = nullptr;
  FILE* flashFile_ = nullptr;
};

#endif  // VELMORA_SIM_SIMULATOR_H_
