#include "bench/measured_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/spawn.h"

namespace {

std::string WineFwp() {
  const char* exe = getenv("VELMORA_WINE_FWP");
  return exe ? exe : "";
}

// Where fwp's words go: to fwp, or to Wine with fwp.exe in front.
std::string FwpProgram(std::vector<std::string>* args) {
  if (WineFwp().empty()) return ProgramPath("fwp");
  args->insert(args->begin(), WineFwp());
  const char* wine = getenv("VELMORA_WINE");
  return wine && *wine ? wine : "/usr/lib/wine/wine64";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

// schedstat counts nanoseconds; stat only clock ticks.
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

int64_t TreeCpuNs(pid_t pid) {
  int64_t total = CpuNs(pid);
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  for (pid_t child; children >> child;) total += std::max<int64_t>(CpuNs(child), 0);
  return total;
}

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
