// line_bench: the real fwp against the real velmora-sim with line timing on,
// measured from outside both programs.
//
// For every line rate and image set it starts velmora-sim in its loader
// (--once, --io-log, --flash-out), runs fwp against it and checks that the run
// was good (fwp's exit status 2, the report line, the flash dump holding the
// image and nothing else) before using any number from it. Then:
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

#include "sim/sample_bytes.h"
#include "tests/sim_launcher.h"
#include "tests/spawn.h"

namespace {

constexpr uint32_t kAppAddress = 0x00010000;
constexpr size_t kFlashSize = 2u * 1024 * 1024;
constexpr uint32_t kRequestSize = 4096;

// Targets.
constexpr double kCeilingTarget = 0.99;  // of 256/264 of the byte rate, at 230400
constexpr double kTurnaroundP99TargetUs = 2000;
constexpr double kWaitCpuTarget = 0.05;  // of one core
constexpr int64_t kMemorySlackBytes = 16 * 1024 * 1024;

int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

std::string Bin(const std::string& program) {
  return std::string(VELMORA_BIN_DIR) + "/" + program;
}

std::string WineFwp() {
  const char* exe = getenv("VELMORA_WINE_FWP");
  return exe ? exe : "";
}

// Where fwp's words go: to fwp, or to Wine with fwp.exe in front.
std::string FwpProgram(std::vector<std::string>* args) {
  if (WineFwp().empty()) return Bin("fwp");
  args->insert(args->begin(), WineFwp());
  const char* wine = getenv("VELMORA_WINE");
  return wine && *wine ? wine : "/usr/lib/wine/wine64";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

// Processor time a live process has used, nanoseconds; -1 when it cannot be
// read. schedstat counts nanoseconds; stat only clock ticks.
int64_t CpuNs(pid_t pid) {
  {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = 0;
    if (in >> ns) return ns;
  }
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return -1;
  std::istringstream fields(stat.substr(nameEnd + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return (utime + stime) * (1'000'000'000 / sysconf(_SC_CLK_TCK));
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

struct FwpRun {
  int status = -1;
  std::string out;
  int64_t wallUs = 0;         // spawn to exit
  int64_t cpuUs = 0;          // user + system over the whole run (wait4)
  int64_t maxRssBytes = 0;    // wait4's ru_maxrss
  int64_t windowWallUs = -1;  // between "Addr : " and "Programming time" on stdout
  int64_t windowCpuNs = -1;
};

// Runs fwp with `args`, watching its standard output for the transfer's start
// and end; kills it after `timeoutMs`.
FwpRun RunFwp(const std::vector<std::string>& args, const std::string& errPath, int timeoutMs) {
  FwpRun run;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int64_t started = NowUs();
  std::vector<std::string> words = args;
  const std::string program = FwpProgram(&words);
  const pid_t pid = SpawnProgram(program, words, out[1], err);
  close(out[1]);
  close(err);
  int64_t startUs = -1, startCpu = -1;
  const int64_t deadline = started + int64_t{timeoutMs} * 1000;
  for (;;) {
    pollfd p = {out[0], POLLIN, 0};
    const int64_t left = deadline - NowUs();
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left / 1000 + 1, 1000))) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    run.out.append(buf, static_cast<size_t>(n));
    // Sampled as soon as the text shows, while the process still runs.
    if (startUs < 0 && run.out.find("Addr : ") != std::string::npos) {
      startCpu = CpuNs(pid);
      startUs = NowUs();
    }
    if (startUs >= 0 && run.windowWallUs < 0 &&
        run.out.find("Programming time") != std::string::npos) {
      const int64_t cpu = CpuNs(pid);
      run.windowWallUs = NowUs() - startUs;
      if (cpu >= 0 && startCpu >= 0) run.windowCpuNs = cpu - startCpu;
    }
  }
  close(out[0]);
  int raw = 0;
  rusage usage = {};
  wait4(pid, &raw, 0, &usage);
  run.wallUs = NowUs() - started;
  run.status = ExitStatusOf(raw);
  run.cpuUs = (int64_t{usage.ru_utime.tv_sec} + usage.ru_stime.tv_sec) * 1'000'000 +
              usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  run.maxRssBytes = int64_t{usage.ru_maxrss} * 1024;
  return run;
}

// One direction of the simulator's I/O log: the bytes in order, and for each
// chunk where it starts and when it was moved.
struct Stream {
  std::string bytes;
  std::vector<size_t> chunkStart;
  std::vector<int64_t> chunkUs;

  // When the chunk holding byte `offset` was moved.
  int64_t timeOf(size_t offset) const {
    const auto it = std::upper_bound(chunkStart.begin(), chunkStart.end(), offset);
    return chunkUs[static_cast<size_t>(it - chunkStart.begin()) - 1];
  }
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads "MICROS DIR COUNT HEX" lines; false when a line does not parse.
bool ParseIoLog(const std::string& path, Stream* toReceiver, Stream* toProgrammer,
                std::string* why) {
  std::ifstream in(path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    long long us = 0;
    std::string dir, hex;
    size_t count = 0;
    if (!(words >> us >> dir >> count >> hex) || (dir != "P>R" && dir != "R>P") ||
        hex.size() != 2 * count) {
      *why = path + ":" + std::to_string(number) + ": not an I/O log line";
      return false;
    }
    Stream& s = dir == "P>R" ? *toReceiver : *toProgrammer;
    s.chunkStart.push_back(s.bytes.size());
    s.chunkUs.push_back(us);
    for (size_t i = 0; i < count; ++i) {
      const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
      if (hi < 0 || lo < 0) {
        *why = path + ":" + std::to_string(number) + ": bad hex";
        return false;
      }
      s.bytes.push_back(static_cast<char>(hi << 4 | lo));
    }
  }
  return true;
}

uint32_t Be32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

struct Request {
  uint32_t start = 0, end = 0;
  int64_t lastByteUs = 0;
};

struct Block {
  uint32_t address = 0;
  int64_t firstByteUs = 0;
};

// The receiver's replies: block requests and the time of the last "PC".
void ScanReplies(const Stream& s, std::vector<Request>* requests, int64_t* lastPcUs) {
  const std::string& b = s.bytes;
  for (size_t i = 0; i + 1 < b.size();) {
    const bool br = b.compare(i, 2, "BR") == 0, pc = b.compare(i, 2, "PC") == 0;
    if ((br || pc) && i + 10 <= b.size()) {
      if (br) requests->push_back({Be32(b, i + 2), Be32(b, i + 6), s.timeOf(i + 9)});
      if (pc) *lastPcUs = s.timeOf(i + 9);
      i += 10;
    } else {
      ++i;
    }
  }
}

// The programmer's frames, walked by their structure so that image bytes are
// never taken for a frame: ".SP" and 16 bytes, ".BT" address n and n bytes;
// everything else (sync strings, "EX", "ABORT") a byte at a time.
std::vector<Block> ScanBlocks(const Stream& s) {
  std::vector<Block> blocks;
  const std::string& b = s.bytes;
  for (size_t i = 0; i < b.size();) {
    if (b.compare(i, 3, ".SP") == 0) {
      i += 19;
    } else if (b.compare(i, 3, ".BT") == 0 && i + 8 <= b.size()) {
      const size_t n = static_cast<uint8_t>(b[i + 7]);
      blocks.push_back({Be32(b, i + 3), s.timeOf(i)});
      i += 8 + n;
    } else {
      ++i;
    }
  }
  return blocks;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t rank =
      static_cast<size_t>(std::max(1.0, std::ceil(p * static_cast<double>(v.size()))));
  return v[std::min(rank, v.size()) - 1];
}

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
      *why = label + "velmora-sim exited " + std::to_string(simStatus) + ": " +
             sim.stderrText();
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
    Stream toReceiver, toProgrammer;
    if (!ParseIoLog(io, &toReceiver, &toProgrammer, why)) return false;
    std::vector<Request> requests;
    int64_t lastPcUs = -1;
    ScanReplies(toProgrammer, &requests, &lastPcUs);
    const std::vector<Block> blocks = ScanBlocks(toReceiver);
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

std::string Machine() {
  std::string model = "unknown";
  std::ifstream cpu("/proc/cpuinfo");
  for (std::string line; std::getline(cpu, line);) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  utsname u = {};
  uname(&u);
  return "CPU " + model + "; " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) +
         " cores online; kernel " + u.sysname + " " + u.release + " " + u.machine;
}

std::string Size(size_t bytes) {
  return bytes % (1024 * 1024) == 0 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                    : std::to_string(bytes / 1024) + " KiB";
}

std::string Fixed(double v, int digits) {
  char s[64];
  std::snprintf(s, sizeof s, "%.*f", digits, v);
  return s;
}

std::string Mib(int64_t bytes) {
  return Fixed(static_cast<double>(bytes) / (1024.0 * 1024.0), 2) + " MiB";
}

const char* Met(bool ok) {
  return ok ? "met" : "**not met**";
}

// Each untraced run next to the traced run made straight after it.
void ReportTrace(const std::vector<TransferResult>& plain,
                 const std::vector<TransferResult>& traced) {
  std::printf(
      "\n| bit/s | image set | transfer s traced | throughput traced / untraced | fwp CPU in "
      "transfer untraced | traced | trace size |\n|---:|---:|---:|---:|---:|---:|---:|\n");
  for (size_t i = 0; i < plain.size() && i < traced.size(); ++i) {
    const TransferResult& a = plain[i];
    const TransferResult& b = traced[i];
    auto cpu = [](double share) {
      return share < 0 ? std::string("n/a") : Fixed(100 * share, 2) + " %";
    };
    std::printf("| %u | %s | %s | %s | %s | %s | %s |\n", a.baud, Size(a.imageBytes).c_str(),
                Fixed(b.seconds, 3).c_str(), Fixed(a.seconds / b.seconds, 4).c_str(),
                cpu(a.cpuShare).c_str(), cpu(b.cpuShare).c_str(), Mib(b.traceBytes).c_str());
  }
}

void Report(const std::vector<TransferResult>& results, const FwpRun& wait) {
  std::printf("## fwp against velmora-sim, line timing on\n\n");
  std::printf("Machine: %s\n\n", Machine().c_str());
  std::printf(
      "Requests of %u bytes; throughput is image bytes over first block byte to last PC.\n\n",
      kRequestSize);
  std::printf(
      "| bit/s | image set | transfer s | of line rate | of ceiling | requests | turnaround "
      "median ms | p99 ms | max ms | fwp CPU in transfer | peak RSS | peak − set |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const TransferResult& r : results) {
    std::printf("| %u | %s | %s | %s %% | %s %% | %zu | %s | %s | %s | %s | %s | %s |\n", r.baud,
                Size(r.imageBytes).c_str(), Fixed(r.seconds, 3).c_str(),
                Fixed(100 * r.ofLine, 2).c_str(), Fixed(100 * r.ofCeiling, 2).c_str(), r.requests,
                Fixed(r.turnMedianUs / 1000, 3).c_str(), Fixed(r.turnP99Us / 1000, 3).c_str(),
                Fixed(r.turnMaxUs / 1000, 3).c_str(),
                r.cpuShare < 0 ? "n/a" : (Fixed(100 * r.cpuShare, 2) + " %").c_str(),
                Mib(r.maxRssBytes).c_str(),
                Mib(r.maxRssBytes - static_cast<int64_t>(r.imageBytes)).c_str());
  }
  const double waitShare = static_cast<double>(wait.cpuUs) / static_cast<double>(wait.wallUs);
  std::printf("\n| silent line | fwp wall s | fwp CPU s | of one core |\n|---|---:|---:|---:|\n");
  std::printf("| scan until \"Device not found!\" | %s | %s | %s %% |\n",
              Fixed(wait.wallUs / 1e6, 3).c_str(), Fixed(wait.cpuUs / 1e6, 3).c_str(),
              Fixed(100 * waitShare, 2).c_str());

  std::printf("\n| target | measured | |\n|---|---:|---|\n");
  for (const TransferResult& r : results) {
    if (r.baud != 230400) continue;
    std::printf("| ≥ 99 %% of ceiling at 230400, %s | %s %% | %s |\n", Size(r.imageBytes).c_str(),
                Fixed(100 * r.ofCeiling, 2).c_str(), Met(r.ofCeiling >= kCeilingTarget));
  }
  for (const TransferResult& r : results) {
    std::printf("| turnaround p99 < 2 ms, %u, %s | %s ms | %s |\n", r.baud,
                Size(r.imageBytes).c_str(), Fixed(r.turnP99Us / 1000, 3).c_str(),
                Met(r.turnP99Us < kTurnaroundP99TargetUs));
  }
  std::printf("| ≤ 5 %% of one core while waiting | %s %% | %s |\n",
              Fixed(100 * waitShare, 2).c_str(), Met(waitShare <= kWaitCpuTarget));
  for (const TransferResult& r : results) {
    const int64_t limit = static_cast<int64_t>(r.imageBytes) + kMemorySlackBytes;
    std::printf("| peak memory ≤ set + 16 MiB, %u, %s | %s (limit %s) | %s |\n", r.baud,
                Size(r.imageBytes).c_str(), Mib(r.maxRssBytes).c_str(), Mib(limit).c_str(),
                Met(r.maxRssBytes <= limit));
  }
}

// The same transfer through a USB adapter whose latency timer is 1 ms (the
// low-latency mode) and 16 ms (the default), at each rate.
void ReportLatency(const std::vector<std::pair<int, TransferResult>>& results) {
  std::printf("## fwp through an adapter's latency timer (velmora-sim --adapter-latency)\n\n");
  std::printf("%s. Requests of %u bytes, 64 KiB image set.\n\n", Machine().c_str(), kRequestSize);
  std::printf(
      "| bit/s | latency timer | transfer s | of ceiling | request turnaround median ms | "
      "transfer time vs 1 ms |\n|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& [ms, r] : results) {
    double base = 0;
    for (const auto& [otherMs, other] : results)
      if (otherMs == 1 && other.baud == r.baud) base = other.seconds;
    std::printf("| %u | %d ms | %s | %s %% | %s | %s |\n", r.baud, ms, Fixed(r.seconds, 3).c_str(),
                Fixed(100 * r.ofCeiling, 2).c_str(), Fixed(r.turnMedianUs / 1000, 3).c_str(),
                base > 0 ? Fixed(r.seconds / base, 3).c_str() : "-");
  }
}

constexpr const char* kUsage =
    "usage: line_bench [--quick | --many | --latency] [--keep]\n"
    "  --quick    only the 64 KiB image set (a smoke run)\n"
    "  --many     only velmora-line with 1, 4, 8 and 16 receivers at once\n"
    "  --latency  only 64 KiB through an adapter's latency timer of 1 and 16 ms\n"
    "  --keep     keep the scratch directory (images, flash dumps, I/O logs)\n";

}  // namespace

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

// The processor time of `pid` and of its children, nanoseconds.
int64_t TreeCpuNs(pid_t pid) {
  int64_t total = CpuNs(pid);
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  for (pid_t child; children >> child;) total += std::max<int64_t>(CpuNs(child), 0);
  return total;
}

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
  const pid_t pid = SpawnProgram(Bin("velmora-line"),
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
    Stream toReceiver, toProgrammer;
    if (!ParseIoLog(tag + ".io", &toReceiver, &toProgrammer, why)) return false;
    std::vector<Request> requests;
    int64_t lastPc = 0;
    ScanReplies(toProgrammer, &requests, &lastPc);
    const std::vector<Block> blocks = ScanBlocks(toReceiver);
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

// One table per image size; the targets are judged for the 64 KiB rows only.
void ReportMany(const std::vector<ManyResult>& results, size_t imageBytes, bool judged) {
  const double one = results.front().perPortMean;
  const auto met = [judged](bool ok) {
    return judged ? std::string(" ") + Met(ok) : std::string();
  };
  std::printf(
      "\n%s App image:\n\n| receivers | per port, mean | aggregate | aggregate / (N x one port) | "
      "mean / one port | first blocks apart | CPU per receiver in transfer |\n"
      "|---:|---:|---:|---:|---:|---:|---:|\n",
      Size(imageBytes).c_str());
  for (const ManyResult& r : results) {
    std::printf("| %d | %.0f B/s | %.0f B/s | %.4f%s | %.4f | %.3f s | %s%s |\n", r.ports,
                r.perPortMean, r.aggregate, r.aggregate / (r.ports * one),
                met(r.ports != 16 || r.aggregate / (r.ports * one) >= 0.99).c_str(),
                r.perPortMean / one, r.startSpreadS,
                r.cpuPerPort < 0 ? "-" : (Fixed(r.cpuPerPort * 100, 2) + " %").c_str(),
                met(r.cpuPerPort >= 0 && r.cpuPerPort <= 0.02).c_str());
  }
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
    ReportLatency(results);
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
  Report(results, wait);
  ReportTrace(results, tracedResults);
  if (bench.keep) {
    std::fprintf(stderr, "line_bench: scratch kept in %s\n", bench.dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(bench.dir, ignored);
  }
  return 0;
}
