// line_bench: the real fwp against the real velmora-sim with line timing on,
// measured from outside both programs.
//
// For every line rate and image set it starts velmora-sim in its loader
// (--once, --io-log, --flash-out), runs fwp against it and checks that the run
// was good (fwp's exit status 2, the report line, the flash dump holding the
// image and nothing else) before using any number from it. The I/O log's
// bytes are cut into the protocol's frames by the trace decoder
// (engine/trace_frames.h). Then:
// - throughput: image bytes over the time from the read that carried the
//   first block's first byte to the write that carried the last "PC"'s last
//   byte, both from the simulator's I/O log (CLOCK_MONOTONIC microseconds);
// - turnaround: for each block request, the read carrying the first byte of
//   the first block for the request's start address minus the write carrying
//   the request's last byte;
// - fwp's processor time per wall second between the moments its standard
//   output shows the transfer starting ("Addr : ") and ending ("Programming
//   time"), from /proc/<pid>/schedstat (or /proc/<pid>/stat);
// - fwp's peak resident memory (wait4's ru_maxrss).
// Each transfer runs twice in a row: as it is, then with VELMORA_TRACE set
// (a run with the trace counts only if the trace ends with the port's close);
// a second table sets the traced run's throughput and processor time beside
// the untraced one's.
// With --latency, only the 64 KiB transfer at 115200 and 230400 through a USB
// adapter's latency timer of 1 ms and of 16 ms (velmora-sim
// --adapter-latency), the transfer times side by side.
// With --many, only velmora-line against 1, 4, 8 and 16 simulators at once,
// with a 64 KiB image and again with 256 KiB: each port's throughput, their
// aggregate against N times one port's, how far apart the ports' first blocks
// lay, and the processor time per receiver (velmora-line and its children)
// while every port transfers.
// Separately, fwp's processor time while it scans a silent line (the
// simulator's firmware emits no sentences) until it gives up.
//
// With $VELMORA_WINE_FWP naming the Windows fwp.exe, that program is measured
// instead, under Wine ($VELMORA_WINE, /usr/lib/wine/wine64 by default) in
// $WINEPREFIX, where the simulator's COM name is linked to its terminal.
//
// Prints Markdown tables on standard output. Exit status: 0 measured, 1 a run
// went wrong (nothing is reported as fast that did not write the flash), 2 bad
// command line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "bench/io_log.h"
#include "bench/measured_run.h"
#include "bench/report.h"
#include "engine/protocol.h"
#include "sim/sample_bytes.h"
#include "tests/sim_launcher.h"
#include "tests/spawn.h"

namespace {

constexpr size_t kFlashSize = 2u * 1024 * 1024;
constexpr uint32_t kRequestSize = 4096;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

// velmora-sim, started through the tests' launcher and waited for.
class Sim {
 public:
  bool start(const std::vector<std::string>& args, std::string* why) {
    return launcher_.serve(args, why);
  }

  const std::string& com() const { return launcher_.comName(); }
  std::string stderrText() const { return launcher_.stderrText(); }

  // Waits for the simulator to end by itself (it runs --once), stopping it
  // after `timeoutMs`; its exit status, -1 when it had to be stopped.
  int wait(int timeoutMs) {
    const int status = launcher_.waitExit(timeoutMs);
    if (status >= 0) return status;
    launcher_.stop(10'000);
    return -1;
  }

 private:
  SimLauncher launcher_;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t rank =
      static_cast<size_t>(std::max(1.0, std::ceil(p * static_cast<double>(v.size()))));
  return v[std::min(rank, v.size()) - 1];
}

struct Bench {
  std::string dir;  // scratch
  bool keep = false;
  int runs = 0;
  int adapterLatencyMs = 0;  // velmora-sim --adapter-latency, 0 for none

  std::string path(const std::string& name) const { return dir + "/" + name; }

  // With `traced`, fwp runs with VELMORA_TRACE set and the run counts only
  // if the trace ends with the port's close.
  bool transfer(uint32_t baud, size_t size, bool traced, TransferResult* r, std::string* why) {
    const std::string tag =
        std::to_string(baud) + "-" + std::to_string(size) + (traced ? "-traced" : "") +
        (adapterLatencyMs > 0 ? "-latency" + std::to_string(adapterLatencyMs) : "");
    const std::string trace = path("trace-" + tag + ".txt");
    const std::string image = SeededImage(size, static_cast<uint32_t>(size + baud));
    const std::string app = path("app-" + tag + ".bin");
    const std::string flash = path("flash-" + tag + ".bin");
    const std::string io = path("io-" + tag + ".txt");
    if (!WriteFile(app, image)) {
      *why = "cannot write " + app;
      return false;
    }
    Sim sim;
    std::vector<std::string> simArgs = {"--loader",
                                        std::to_string(baud),
                                        "--request-size",
                                        std::to_string(kRequestSize),
                                        "--once",
                                        "--io-log",
                                        io,
                                        "--flash-out",
                                        flash};
    if (adapterLatencyMs > 0) {
      simArgs.push_back("--adapter-latency");
      simArgs.push_back(std::to_string(adapterLatencyMs));
    }
    if (!sim.start(simArgs, why)) return false;
    const int timeoutMs = static_cast<int>(60'000 + size * 30'000 / baud);
    if (traced) setenv("VELMORA_TRACE", trace.c_str(), 1);
    const FwpRun run = RunFwp({"-uart", sim.com(), "-baud", std::to_string(baud), "-app", app},
                              path("fwp-" + tag + ".err"), timeoutMs);
    unsetenv("VELMORA_TRACE");
    const int simStatus = sim.wait(10'000);
    const std::string label =
        "at " + std::to_string(baud) + " with " + std::to_string(size) + " bytes: ";
    if (run.status != 2 || run.out.find("APP CODE  OK!") == std::string::npos) {
      *why = label + "fwp exited " + std::to_string(run.status) + ", said:\n" + run.out +
             ReadFile(path("fwp-" + tag + ".err"));
      return false;
    }
    if (simStatus != 0) {
      *why = label + "velmora-sim exited " + std::to_string(simStatus) + ": " + sim.stderrText();
      return false;
    }
    std::string expected(kFlashSize, '\xFF');
    expected.replace(kAppAddress, image.size(), image);
    if (ReadFile(flash) != expected) {
      *why = label + "the flash does not hold the image";
      return false;
    }
    if (traced) {
      const std::string text = ReadFile(trace);
      const std::string close = " close " + std::to_string(baud) + "\n";
      if (text.size() < close.size() ||
          text.compare(text.size() - close.size(), close.size(), close) != 0) {
        *why = label + "the trace does not end with the port's close";
        return false;
      }
      r->traceBytes = static_cast<int64_t>(text.size());
    }
    Transfer seen;
    if (!ReadIoLog(io, &seen, why)) return false;
    const std::vector<Request>& requests = seen.requests;
    const int64_t lastPcUs = seen.lastPcUs;
    const std::vector<Block>& blocks = seen.blocks;
    if (requests.empty() || blocks.empty() || lastPcUs < 0) {
      *why = label + "the I/O log shows no transfer";
      return false;
    }
    // Each request's answer: the first block for its start address after the
    // blocks already matched.
    std::vector<double> turns;
    size_t next = 0;
    for (const Request& q : requests) {
      while (next < blocks.size() && blocks[next].address != q.start) ++next;
      if (next == blocks.size()) {
        *why = label + "no block answers the request for " + std::to_string(q.start);
        return false;
      }
      turns.push_back(static_cast<double>(blocks[next].firstByteUs - q.lastByteUs));
      ++next;
    }
    r->baud = baud;
    r->imageBytes = size;
    r->seconds = static_cast<double>(lastPcUs - blocks.front().firstByteUs) / 1e6;
    const double rate = static_cast<double>(size) / r->seconds;
    const double line = baud / 10.0;
    r->ofLine = rate / line;
    r->ofCeiling = rate / (line * 256.0 / 264.0);
    r->requests = requests.size();
    r->turnMedianUs = Percentile(turns, 0.5);
    r->turnP99Us = Percentile(turns, 0.99);
    r->turnMaxUs = *std::max_element(turns.begin(), turns.end());
    if (run.windowWallUs > 0 && run.windowCpuNs >= 0)
      r->cpuShare = static_cast<double>(run.windowCpuNs) / (run.windowWallUs * 1000.0);
    r->maxRssBytes = run.maxRssBytes;
    if (!keep) {
      std::error_code ignored;
      for (const std::string& f : {app, flash, io, trace}) std::filesystem::remove(f, ignored);
    }
    return true;
  }

  // fwp scanning a receiver that sends nothing, until it gives up.
  bool waiting(FwpRun* result, std::string* why) {
    const std::string app = path("app-wait.bin");
    if (!WriteFile(app, SeededImage(64 * 1024, 7))) {
      *why = "cannot write " + app;
      return false;
    }
    Sim sim;
    if (!sim.start({"--no-sentences", "--once"}, why)) return false;
    *result =
        RunFwp({"-uart", sim.com(), "-baud", "230400", "-app", app}, path("fwp-wait.err"), 60'000);
    sim.wait(10'000);
    if (result->status != 0 || result->out.find("Device not found!") == std::string::npos) {
      *why =
          "silent line: fwp exited " + std::to_string(result->status) + ", said:\n" + result->out;
      return false;
    }
    return true;
  }
};

constexpr const char* kUsage =
    "usage: line_bench [--quick | --many | --latency] [--keep]\n"
    "  --quick    only the 64 KiB image set (a smoke run)\n"
    "  --many     only velmora-line with 1, 4, 8 and 16 receivers at once\n"
    "  --latency  only 64 KiB through an adapter's latency timer of 1 and 16 ms\n"
    "  --keep     keep the scratch directory (images, flash dumps, I/O logs)\n";

}  // namespace

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool RunMany(const std::string& dir, int ports, const std::string& image, ManyResult* result,
             std::string* why) {
  constexpr uint32_t kBaud = 230400;
  std::vector<Sim> sims(static_cast<size_t>(ports));
  for (int i = 0; i < ports; ++i) {
    const std::string tag = dir + "/many" + std::to_string(ports) + "-" + std::to_string(i);
    if (!sims[i].start({"--com", std::to_string(201 + i), "--loader", std::to_string(kBaud),
                        "--request-size", std::to_string(kRequestSize), "--once", "--io-log",
                        tag + ".io", "--flash-out", tag + ".flash"},
                       why))
      return false;
  }
  const std::string app = dir + "/many.bin";
  WriteFile(app, image);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  const int err = open((dir + "/many.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t pid = SpawnProgram(ProgramPath("velmora-line"),
                                 {"--ports", "COM201-COM" + std::to_string(200 + ports), "--",
                                  "-baud", std::to_string(kBaud), "-app", app},
                                 out[1], err);
  close(out[1]);
  close(err);
  std::string text;
  int64_t startUs = -1, startCpu = -1;
  const int64_t deadline = NowUs() + 300'000'000;
  for (;;) {
    pollfd p = {out[0], POLLIN, 0};
    if (NowUs() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&p, 1, 1000) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (startUs < 0 && Occurrences(text, ": writing APP CODE\n") == static_cast<size_t>(ports)) {
      startCpu = TreeCpuNs(pid);
      startUs = NowUs();
    }
    if (startUs >= 0 && result->cpuPerPort < 0 &&
        text.find(": APP CODE written\n") != std::string::npos) {
      const int64_t wall = NowUs() - startUs;
      if (wall > 0) result->cpuPerPort = (TreeCpuNs(pid) - startCpu) / 1000.0 / wall / ports;
    }
  }
  close(out[0]);
  int raw = 0;
  waitpid(pid, &raw, 0);
  if (ExitStatusOf(raw) != 0) {
    *why = "velmora-line with " + std::to_string(ports) + " ports ended with " +
           std::to_string(ExitStatusOf(raw)) + ":\n" + text;
    return false;
  }
  std::string flash(kFlashSize, '\xFF');
  flash.replace(kAppAddress, image.size(), image);
  int64_t first = std::numeric_limits<int64_t>::max(), last = 0, latestFirst = 0;
  double sum = 0;
  for (int i = 0; i < ports; ++i) {
    const std::string tag = dir + "/many" + std::to_string(ports) + "-" + std::to_string(i);
    if (sims[i].wait(10000) != 0 || ReadFile(tag + ".flash") != flash) {
      *why = tag + ": the simulator did not end well or its flash is not the image";
      return false;
    }
    Transfer seen;
    if (!ReadIoLog(tag + ".io", &seen, why)) return false;
    const int64_t lastPc = seen.lastPcUs;
    const std::vector<Block>& blocks = seen.blocks;
    if (blocks.empty() || lastPc <= blocks.front().firstByteUs) {
      *why = tag + ": no transfer in the I/O log";
      return false;
    }
    first = std::min(first, blocks.front().firstByteUs);
    latestFirst = std::max(latestFirst, blocks.front().firstByteUs);
    last = std::max(last, lastPc);
    sum += image.size() * 1e6 / static_cast<double>(lastPc - blocks.front().firstByteUs);
  }
  result->ports = ports;
  result->perPortMean = sum / ports;
  result->aggregate = ports * image.size() * 1e6 / static_cast<double>(last - first);
  result->startSpreadS = static_cast<double>(latestFirst - first) / 1e6;
  return true;
}

int main(int argc, char** argv) {
  bool quick = false, many = false, latency = false;
  Bench bench;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--many") {
      many = true;
    } else if (arg == "--latency") {
      latency = true;
    } else if (arg == "--keep") {
      bench.keep = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "line_bench: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  char pattern[] = "/tmp/line-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("line_bench: cannot make a scratch directory");
    return 1;
  }
  bench.dir = pattern;
  // An alias directory of our own, so that COM200 is ours alone.
  const std::string ports = bench.path("ports");
  mkdir(ports.c_str(), 0700);
  setenv("VELMORA_PORTS", ports.c_str(), 1);
  signal(SIGPIPE, SIG_IGN);

  if (many) {
    // The 64 KiB rows are the measure; the 256 KiB rows show the same start
    // against a transfer four times as long.
    for (const size_t size : {64 * 1024, 256 * 1024}) {
      std::vector<ManyResult> results;
      std::string why;
      const std::string image = SeededImage(size, 11);
      for (int n : {1, 4, 8, 16}) {
        std::fprintf(stderr, "line_bench: %d receivers at once, %s...\n", n, Size(size).c_str());
        ManyResult r;
        if (!RunMany(bench.dir, n, image, &r, &why)) {
          std::fprintf(stderr, "line_bench: %s\nline_bench: scratch kept in %s\n", why.c_str(),
                       bench.dir.c_str());
          return 1;
        }
        results.push_back(r);
      }
      ReportMany(results, size, size == 64 * 1024);
    }
    std::error_code ignored;
    if (!bench.keep) std::filesystem::remove_all(bench.dir, ignored);
    return 0;
  }

  if (latency) {
    std::vector<std::pair<int, TransferResult>> results;
    std::string why;
    for (const uint32_t baud : {115200u, 230400u}) {
      for (const int ms : {1, 16}) {
        std::fprintf(stderr, "line_bench: %u bit/s, adapter latency %d ms...\n", baud, ms);
        bench.adapterLatencyMs = ms;
        TransferResult r;
        if (!bench.transfer(baud, 64 * 1024, false, &r, &why)) {
          std::fprintf(stderr, "line_bench: %s\nline_bench: scratch kept in %s\n", why.c_str(),
                       bench.dir.c_str());
          return 1;
        }
        results.emplace_back(ms, r);
      }
    }
    ReportLatency(results, kRequestSize);
    std::error_code ignored;
    if (!bench.keep) std::filesystem::remove_all(bench.dir, ignored);
    return 0;
  }

  std::vector<size_t> sizes = {64 * 1024};
  if (!quick) sizes.push_back(1024 * 1024);
  std::vector<TransferResult> results, tracedResults;
  std::string why;
  bool ok = true;
  for (const size_t size : sizes) {
    for (const uint32_t baud : {115200u, 230400u}) {
      std::fprintf(stderr, "line_bench: %u bit/s, %s...\n", baud, Size(size).c_str());
      TransferResult r, t;
      if (!bench.transfer(baud, size, false, &r, &why) ||
          !bench.transfer(baud, size, true, &t, &why)) {
        ok = false;
        break;
      }
      results.push_back(r);
      tracedResults.push_back(t);
    }
    if (!ok) break;
  }
  FwpRun wait;
  if (ok) {
    std::fprintf(stderr, "line_bench: silent line...\n");
    ok = bench.waiting(&wait, &why);
  }
  if (!ok) {
    std::fprintf(stderr, "line_bench: %s\nline_bench: scratch kept in %s\n", why.c_str(),
                 bench.dir.c_str());
    return 1;
  }
  Report(results, wait, kRequestSize);
  ReportTrace(results, tracedResults);
  if (bench.keep) {
    std::fprintf(stderr, "line_bench: scratch kept in %s\n", bench.dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(bench.dir, ignored);
  }
  return 0;
}
