#include "bench/report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

// Targets.
constexpr double kCeilingTarget = 0.99;  // of 256/264 of the byte rate, at 230400
constexpr double kTurnaroundP99TargetUs = 2000;
constexpr double kWaitCpuTarget = 0.05;  // of one core
constexpr int64_t kMemorySlackBytes = 16 * 1024 * 1024;

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

}  // namespace

std::string Size(size_t bytes) {
  return bytes % (1024 * 1024) == 0 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                    : std::to_string(bytes / 1024) + " KiB";
}

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

void Report(const std::vector<TransferResult>& results, const FwpRun& wait, uint32_t requestSize) {
  std::printf("## fwp against velmora-sim, line timing on\n\n");
  std::printf("Machine: %s\n\n", Machine().c_str());
  std::printf(
      "Requests of %u bytes; throughput is image bytes over first block byte to last PC.\n\n",
      requestSize);
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

void ReportLatency(const std::vector<std::pair<int, TransferResult>>& results,
                   uint32_t requestSize) {
  std::printf("## fwp through an adapter's latency timer (velmora-sim --adapter-latency)\n\n");
  std::printf("%s. Requests of %u bytes, 64 KiB image set.\n\n", Machine().c_str(), requestSize);
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
