#include "tests/integration/sim_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/spawn.h"

namespace {

// The Windows fwp.exe to run under Wine instead of fwp, when
// $VELMORA_WINE_FWP names one; empty otherwise.
std::string WineFwp() {
  const char* exe = std::getenv("VELMORA_WINE_FWP");
  return exe ? exe : "";
}

std::string WineProgram() {
  const char* wine = std::getenv("VELMORA_WINE");
  return wine && *wine ? wine : "/usr/lib/wine/wine64";
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string HexBytes(const std::vector<std::string>& words, size_t from, size_t to) {
  std::string bytes;
  for (size_t i = from; i < to; ++i) bytes += static_cast<char>(std::stoul(words[i], nullptr, 16));
  return bytes;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs, RunOptions options) {
  int out[2], err[2];
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
  std::string path = ProgramPath(program);
  std::vector<std::string> words = args;
  if (program == "fwp" && !WineFwp().empty()) {
    path = WineProgram();
    words.insert(words.begin(), WineFwp());
  }
  const pid_t pid = SpawnProgram(path, words, out[1], err[1], options.inFd);
  close(out[1]);
  close(err[1]);
  ProgramResult result;
  const int64_t deadline = NowMs() + timeoutMs;
  int64_t signalAt = -1, signalledAt = -1;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    if (options.signal != 0 && signalledAt < 0) {
      if (signalAt < 0 && result.out.find(options.signalAfter) != std::string::npos)
        signalAt = NowMs() + options.signalDelayMs;
      if (signalAt >= 0 && NowMs() >= signalAt) {
        kill(pid, options.signal);
        signalledAt = NowMs();
      }
    }
    if (options.signalRepeatMs >= 0 && signalledAt >= 0 &&
        NowMs() >= signalledAt + options.signalRepeatMs) {
      kill(pid, options.signal);
      signalledAt = NowMs();
      options.signalRepeatMs = -1;
    }
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    const int left = static_cast<int>(deadline - NowMs());
    if (left <= 0) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << program << " did not end within " << timeoutMs << " ms";
      break;
    }
    poll(fds, 2, std::min(left, 10));
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      bool& open = i == 0 ? outOpen : errOpen;
      if (!open || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0)
        open = false;
      else
        (i == 0 ? result.out : result.err).append(buf, n);
    }
    if (outOpen && options.closeOutputAfter > 0 && result.out.size() >= options.closeOutputAfter) {
      close(out[0]);  // the program's next print meets a closed pipe
      out[0] = -1;
      outOpen = false;
    }
  }
  if (out[0] >= 0) close(out[0]);
  close(err[0]);
  int raw = 0;
  waitpid(pid, &raw, 0);
  if (signalledAt >= 0) result.afterSignalMs = NowMs() - signalledAt;
  result.status = ExitStatusOf(raw);
  return result;
}

SimProcess::SimProcess(const std::vector<std::string>& args) {
  std::string why;
  EXPECT_TRUE(launcher_.serve(args, &why)) << why;
}

SimProcess::~SimProcess() {
  if (launcher_.running()) stop();
}

int SimProcess::stop() {
  if (!launcher_.running()) return -1;
  const int status = launcher_.stop(10000);
  if (status < 0) ADD_FAILURE() << "velmora-sim did not end in time";
  return status;
}

int SimProcess::wait(int timeoutMs) {
  if (!launcher_.running()) return -1;
  const int status = launcher_.waitExit(timeoutMs);
  if (status < 0) {
    launcher_.signal(SIGKILL);
    launcher_.waitExit(10000);
    ADD_FAILURE() << "velmora-sim did not end in time";
  }
  return status;
}

SimTest::SimTest() {
  char pattern[] = "/tmp/velmora-it-XXXXXX";
  dir = mkdtemp(pattern);
  const std::string ports = dir + "/ports";
  mkdir(ports.c_str(), 0700);
  setenv("VELMORA_PORTS", ports.c_str(), 1);
  flashOut = dir + "/flash.bin";
}

SimTest::~SimTest() {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

std::string SimTest::WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string SimTest::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

ProgramResult SimTest::Fwp(const std::vector<std::string>& args, const RunOptions& options) {
  ProgramResult r = RunProgram("fwp", args, 120000, options);
  if (!WineFwp().empty()) {
    // The Windows C runtime writes each line end as CR LF: check that every
    // one is, then compare the rest as on Linux.
    for (std::string* text : {&r.out, &r.err}) {
      for (size_t i = text->find('\n'); i != std::string::npos; i = text->find('\n', i + 1))
        EXPECT_TRUE(i > 0 && (*text)[i - 1] == '\r')
            << "a bare line feed at " << i << ": " << *text;
      *text = std::regex_replace(*text, std::regex("\r\n"), "\n");
    }
  }
  static const std::regex time("Programming time : [0-9]+\\.[0-9][0-9] secs");
  r.out = std::regex_replace(r.out, time, "Programming time : T secs");
  return r;
}

bool FwpIsWindows() {
  return !WineFwp().empty();
}

std::string ExpectedFlash(const std::vector<std::pair<uint32_t, std::string>>& images) {
  std::string flash(2 * 1024 * 1024, '\xFF');
  for (const auto& [address, bytes] : images) flash.replace(address, bytes.size(), bytes);
  return flash;
}

// The simulator's transcript: TIME DIR BAUD FATE HEX [=> HEX] |TEXT|. The
// programmer sent every P>R byte; it got the R>P bytes that were taken or
// ignored, and for noise the bytes after "=>", except those sent while the
// port was closed after a session (the receiver restarts and talks on to
// nobody).
Directions SimBytes(const std::string& path) {
  Directions d;
  std::ifstream in(path);
  bool opened = false, closed = false;
  for (std::string line; std::getline(in, line);) {
    const auto w = Words(line);
    if (line[0] == '#') continue;
    if (w[1] == "#") {
      if (line.find("port opened") != std::string::npos) {
        opened = true;
        closed = false;
      }
      if (line.find("port closed") != std::string::npos) closed = true;
      continue;
    }
    if (closed && w[1] == "R>P") continue;
    size_t end = 4, arrow = 0;
    while (end < w.size() && w[end][0] != '|') {
      if (w[end] == "=>") arrow = end;
      ++end;
    }
    const std::string& fate = w[3];
    const size_t had = d.toProgrammer.size();
    if (w[1] == "P>R") {
      d.toReceiver += HexBytes(w, 4, arrow ? arrow : end);
    } else if (fate == "noise") {
      d.toProgrammer += HexBytes(w, arrow + 1, end);
    } else if (fate != "lost") {
      d.toProgrammer += HexBytes(w, 4, end);
    }
    if (!opened) d.beforeOpen += d.toProgrammer.size() - had;
  }
  return d;
}

Directions TraceBytes(const std::string& path) {
  Directions d;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line[0] == '#') continue;
    const auto w = Words(line);
    if (w[1] == "P>R" || w[1] == "R>P") {
      const size_t count = std::stoul(w[3]);
      (w[1] == "P>R" ? d.toReceiver : d.toProgrammer) += HexBytes(w, 4, 4 + count);
    } else {
      d.events.push_back(line.substr(line.find(' ') + 1));
    }
  }
  return d;
}

void ExpectTraceHoldsTheSimulatorsBytes(const std::string& tracePath, const std::string& simLog) {
  const Directions fromSim = SimBytes(simLog), fromTrace = TraceBytes(tracePath);
  EXPECT_TRUE(fromTrace.toReceiver == fromSim.toReceiver) << "programmer to receiver differs";
  // The receiver's first sentences went out before the port was open: the
  // programmer got what followed them.
  ASSERT_LE(fromTrace.toProgrammer.size(), fromSim.toProgrammer.size());
  const size_t missed = fromSim.toProgrammer.size() - fromTrace.toProgrammer.size();
  EXPECT_LE(missed, fromSim.beforeOpen);
  EXPECT_TRUE(fromTrace.toProgrammer == fromSim.toProgrammer.substr(missed))
      << "receiver to programmer differs";
}
