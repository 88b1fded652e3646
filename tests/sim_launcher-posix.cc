#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "tests/sim_launcher.h"
#include "tests/spawn.h"

namespace {

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1'000'000;
}

}  // namespace

SimLauncher::~SimLauncher() {
  if (pid_ > 0) stop();
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool SimLauncher::start(const std::vector<std::string>& args, std::string* why) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *why = "cannot make a pipe for velmora-sim";
    return false;
  }
  FILE* err = tmpfile();
  if (err == nullptr) {
    close(out[0]);
    close(out[1]);
    *why = "cannot make a file for velmora-sim's standard error";
    return false;
  }
  errFd_ = fcntl(fileno(err), F_DUPFD_CLOEXEC, 0);
  fclose(err);
  pid_ = SpawnProgram(ProgramPath("velmora-sim"), args, out[1], errFd_);
  close(out[1]);
  outFd_ = out[0];
  if (pid_ < 0) {
    *why = "cannot start velmora-sim";
    return false;
  }
  // A receiver answers on its own clock, however busy the host is: where the
  // system allows it (root), the simulator runs ahead of ordinary work, so
  // that a loaded test machine does not make it miss the programmer's 100 ms
  // windows. Elsewhere it runs as it is.
  setpriority(PRIO_PROCESS, static_cast<id_t>(pid_), -5);
  return true;
}

bool SimLauncher::serve(const std::vector<std::string>& args, std::string* why) {
  if (!start(args, why)) return false;
  const int64_t deadline = NowMs() + 10000;
  devicePath_ = readLine(10000);
  const bool alias = std::find(args.begin(), args.end(), "--no-alias") == args.end();
  if (alias) comName_ = readLine(static_cast<int>(std::max<int64_t>(deadline - NowMs(), 0)));
  if (devicePath_.rfind("/dev/", 0) != 0 || (alias && comName_.rfind("COM", 0) != 0)) {
    *why = "velmora-sim did not start: " + stderrText();
    return false;
  }
  const char* wineFwp = std::getenv("VELMORA_WINE_FWP");
  const char* prefix = std::getenv("WINEPREFIX");
  if (wineFwp && *wineFwp && prefix && !comName_.empty()) {
    std::string name = comName_;
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    const std::string link = std::string(prefix) + "/dosdevices/" + name;
    unlink(link.c_str());
    if (symlink(devicePath_.c_str(), link.c_str()) != 0) {
      *why = "cannot link " + link;
      return false;
    }
  }
  return true;
}

std::string SimLauncher::readLine(int timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const int64_t left = deadline - NowMs();
    if (outEnded_ || outFd_ < 0 || left <= 0) return "";
    pollfd p = {outFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 100))) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n <= 0) {
      outEnded_ = true;
    } else {
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }
}

std::string SimLauncher::readRest(int timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  while (!outEnded_ && outFd_ >= 0 && NowMs() < deadline) {
    pollfd p = {outFd_, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n <= 0) {
      outEnded_ = true;
    } else {
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }
  std::string rest;
  rest.swap(pending_);
  return rest;
}

void SimLauncher::signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int SimLauncher::waitExit(int timeoutMs) {
  if (pid_ <= 0) return -1;
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      pid_ = -1;
      return ExitStatusOf(raw);
    }
    if (NowMs() >= deadline) return -1;
    usleep(2000);
  }
}

int SimLauncher::stop(int timeoutMs) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  const int status = waitExit(timeoutMs);
  if (status >= 0) return status;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return -1;
}

std::string SimLauncher::stderrText() const {
  std::string text;
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t n = pread(errFd_, buffer, sizeof buffer, at);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  return text;
}
