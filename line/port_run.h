// One port of velmora-line: where its receiver's run stands, built from the
// child's messages (child_protocol.h), and the texts shown for it: the live
// view's row, the plain line per event, and the summary table.
//
// Times are milliseconds of a steady clock that the caller reads and passes
// in; nothing here reads a clock, so the texts depend only on what was
// applied.
//
// Threads: one thread uses a PortRun.
#ifndef VELMORA_LINE_PORT_RUN_H_
#define VELMORA_LINE_PORT_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/programmer.h"
#include "line/child_protocol.h"

// A port as discovery knows it.
struct PortInfo {
  std::string port;     // as given: "COM33" or a device path
  std::string device;   // the device path it opens
  std::string product;  // the adapter's USB product (or what describes the port)
  std::string serial;   // the adapter's USB serial number; empty when none
};

class PortRun {
 public:
  explicit PortRun(PortInfo info) : info_(std::move(info)) {}

  // A new child starts for the next receiver (`present`: the slots given).
  void start(const bool present[kSlotCount], int64_t nowMs);
  // Applies one message; returns the event's plain line (without line end),
  // or "" for a message that is no event (progress, output).
  std::string apply(const Message& message, int64_t nowMs);
  // The child has ended; returns the line that says how the run ended, or
  // "" when no run took place (stopped while waiting for a receiver).
  std::string finish(int64_t nowMs);

  // The live view's row, at most `width` characters:
  // port, adapter, stage, a bar with percentage, bytes per second, elapsed.
  std::string row(int64_t nowMs, int width) const;

  // How the current (or just finished) run ended: "completed", "image
  // failed", "stopped", "no receiver", "no response", "port not opened",
  // "failed", "ended abnormally".
  std::string resultWord() const;
  bool completed() const { return began_ && gotResult_ && !aborted_ && result_ == 2; }

  const PortInfo& info() const { return info_; }
  int result() const { return gotResult_ ? result_ : -1; }
  const int* outcomes() const { return outcomes_; }
  const std::string& output() const { return output_; }
  int64_t durationMs() const { return endMs_ - beginMs_; }
  int imagesWritten() const;
  int imagesGiven() const;
  // Receivers whose run has finished on this port, and how many completed.
  int runs() const { return runs_; }
  int completedRuns() const { return completedRuns_; }

  // The last finished run, for the summary.
  struct Finished {
    std::string result;
    int written = 0, given = 0;
    int64_t durationMs = 0;
  };
  const Finished& last() const { return last_; }

 private:
  std::string stage() const;
  std::string line(const std::string& text) const { return info_.port + ": " + text; }

  PortInfo info_;
  enum class Phase { kStarting, kLeaving, kWaiting, kRunning, kDone } phase_ = Phase::kStarting;
  std::string stage_ = "starting";
  bool present_[kSlotCount] = {};
  int outcomes_[kSlotCount] = {};
  bool began_ = false, opened_ = false, found_ = false, gotResult_ = false, aborted_ = false;
  int result_ = 0;
  int64_t beginMs_ = 0, endMs_ = 0, totalAtMs_ = -1;
  int64_t total_ = 0, position_ = 0;
  std::string output_;
  int runs_ = 0, completedRuns_ = 0;
  Finished last_;
};

// The summary table: one row per port (port, result, images written, time;
// in station mode also the receivers completed of those run), then one line
// of totals.
std::string SummaryTable(const std::vector<PortRun>& ports, bool station);

#endif  // VELMORA_LINE_PORT_RUN_H_
