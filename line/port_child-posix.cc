#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/console.h"
#include "engine/programmer.h"
#include "engine/progress.h"
#include "engine/run_hooks.h"
#include "engine/stop_signals-posix.h"
#include "line/child_protocol.h"
#include "line/port_child.h"
#include "line/replacement.h"
#include "serial/output_file.h"
#include "serial/serial_port.h"
#include "serial/trace.h"

namespace {

int g_pipe = -1;
// The stop signals' flag (InstallStopSignals): the run's abort flag, and the
// end of the watch and of the wait at the start gate.
std::atomic<int>* g_stopFlag = nullptr;

bool Stopped() {
  return g_stopFlag && g_stopFlag->load() != 0;
}
// Whole messages to the parent; a parent that is gone is not waited for.
void Send(MessageKind kind, int32_t a, int32_t b = 0, std::string_view text = {}) {
  do {
    const std::string_view piece = text.substr(0, kMaxMessageText);
    const std::string bytes = EncodeMessage(kind, a, b, piece);
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(g_pipe, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
    text.remove_prefix(piece.size());
  } while (!text.empty());
}

class PipeConsole : public Console {
 public:
  void write(std::string_view text) override { Send(MessageKind::kOutput, 0, 0, text); }
  void writeError(std::string_view line) override { Send(MessageKind::kError, 0, 0, line); }
  void waitForKey() override {}
};

class PipeProgress : public ProgressWindow {
 public:
  void PostMessage(unsigned, unsigned code, int32_t value) noexcept override {
    if (code == PROGRESS_SET_TOTAL) Send(MessageKind::kTotal, value);
    if (code == PROGRESS_SET_POSITION) Send(MessageKind::kPosition, value);
  }
};

class PipeObserver : public RunObserver {
 public:
  void detecting() noexcept override { Send(MessageKind::kDetecting, 0); }
  void loaderFound(int32_t baud) noexcept override { Send(MessageKind::kLoaderFound, baud); }
  void firmwareFound(int32_t baud) noexcept override { Send(MessageKind::kFirmwareFound, baud); }
  void switched(int32_t baud) noexcept override { Send(MessageKind::kSwitched, baud); }
  void writingImage(int32_t slot) noexcept override { Send(MessageKind::kImage, slot); }
  void imageDone(int32_t slot, int32_t outcome) noexcept override {
    Send(MessageKind::kImageDone, slot, outcome);
  }
};

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1'000'000;
}

// Watches the port until its receiver has been replaced. False when stopped.
bool WaitForReplacement(const ChildPlan& plan) {
  constexpr int64_t kPollMs = 50, kReopenMs = 200;
  Send(MessageKind::kWaiting, 0);
  ReplacementWatch watch(NowMs(), plan.quietMs);
  std::unique_ptr<SerialLink> link;
  int64_t nextOpenMs = 0;
  while (!Stopped()) {
    const int64_t now = NowMs();
    if (!link && now >= nextOpenMs) {
      link = PlatformPortOpener().open(plan.port.c_str(), static_cast<uint32_t>(plan.watchBaud),
                                       nullptr);
      if (!link) nextOpenMs = now + kReopenMs;
    }
    size_t bytes = 0;
    if (link) {
      char buffer[4096];
      for (size_t n; (n = link->read(buffer, sizeof buffer)) > 0;) bytes += n;
      if (link->gone()) link.reset();
    }
    switch (watch.observe(NowMs(), link != nullptr, bytes)) {
      case ReplacementWatch::Step::kLeftQuiet:
        Send(MessageKind::kLeft, 0);
        break;
      case ReplacementWatch::Step::kLeftGone:
        Send(MessageKind::kLeft, 1);
        break;
      case ReplacementWatch::Step::kArrived:
        return true;
      case ReplacementWatch::Step::kLeaving:
        break;
    }
    usleep(kPollMs * 1000);
  }
  return false;
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() == 1) _exit(1);  // the parent is already gone
  g_stopFlag = InstallStopSignals();
  // Job control never stops a port's process: were its port velmora-line's
  // own controlling terminal, setting it up and reading it from this
  // background group would raise SIGTTOU and SIGTTIN. So the process gives
  // that terminal up, and ignores both signals besides.
  signal(SIGTTOU, SIG_IGN);
  signal(SIGTTIN, SIG_IGN);
  if (const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); tty >= 0) {
    ioctl(tty, TIOCNOTTY);
    close(tty);
  }
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
  }
  if (plan.startGate >= 0) {
    char go;
    while (::read(plan.startGate, &go, 1) < 0 && errno == EINTR && !Stopped()) {
    }
    close(plan.startGate);
  }

  if (plan.watchFirst && !WaitForReplacement(plan)) {
    Send(MessageKind::kResult, 0, kResultNoRun);
    _exit(0);
  }
  Send(MessageKind::kBegin, 0);
  std::unique_ptr<TraceWriter> writer;
  std::unique_ptr<TracingOpener> opener;
  if (!plan.tracePath.empty()) {
    std::string why;
    const int fd = OpenOutputFile(plan.tracePath, OutputMode::kReplace, &why);
    std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "w");
    if (file) {
      writer = std::make_unique<TraceWriter>(file, SteadyTraceClock());
      opener = std::make_unique<TracingOpener>(PlatformPortOpener(), *writer);
      SerialPort::setOpener(opener.get());
    } else {
      if (fd >= 0) close(fd);
      Send(MessageKind::kError, 0, 0, "cannot write the trace " + plan.tracePath + ": " + why);
    }
  }
  PipeConsole console;
  PipeProgress progress;
  PipeObserver observer;
  SetEngineConsole(&console);
  g_hProgressWnd = &progress;
  RunHooks hooks;
  hooks.abortFlag = g_stopFlag;
  hooks.observer = &observer;

  std::vector<std::string> words = {"fwp", "-uart", plan.port};
  words.insert(words.end(), plan.words.begin(), plan.words.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  const int result = RunProgrammer(static_cast<int>(argv.size()), argv.data(), hooks);
  // The trace's last records reach the file before the result.
  if (writer && !writer->flush())
    Send(MessageKind::kError, 0, 0,
         "cannot write the trace " + plan.tracePath + ": " + std::strerror(writer->error()));
  writer.reset();
  Send(MessageKind::kResult, result, hooks.record.aborted ? kResultAborted : 0);
  _exit(0);
}

}  // namespace

std::string ShareImage(const uint8_t* data, int32_t length) {
  // Kept open until the process ends; only the forked children use it.
  const int fd = memfd_create("velmora-image", MFD_CLOEXEC);
  if (fd < 0) return "";
  for (int32_t done = 0; done < length;) {
    const ssize_t n = ::write(fd, data + done, static_cast<size_t>(length - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return "";
    }
    done += static_cast<int32_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

pid_t StartPortChild(const ChildPlan& plan, int* readFd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    close(fds[0]);
    g_pipe = fds[1];
    RunChild(plan);
  }
  close(fds[1]);
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  // Also from here, so that a stop sent at once finds the child in its group.
  setpgid(pid, pid);
  *readFd = fds[0];
  return pid;
}
