#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "line/child_protocol.h"
#include "line/image_plan.h"
#include "line/port_child.h"
#include "line/port_list.h"
#include "line/port_run.h"
#include "line/replacement.h"
#include "line/run_log.h"
#include "line/supervisor.h"
#include "serial/output_file.h"
#include "serial/port_discovery.h"
#include "serial/port_holders.h"
#include "serial/port_names.h"

namespace {

volatile sig_atomic_t g_stops = 0;

void OnStop(int) {
  g_stops = g_stops + 1;
}

int64_t SteadyMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1'000'000;
}

int64_t UnixMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1'000'000;
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void Say(const std::string& line) {
  WriteAll(STDOUT_FILENO, line + "\n");
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "velmora-line: %s\n", why.c_str());
  return 2;
}

// The ports asked for, with what discovery knows of them.
bool FindPorts(const LineOptions& o, std::vector<PortInfo>* ports, std::string* error) {
  PortList found;
  try {
    discoverPorts(found, false);
  } catch (const PortDiscoveryError& e) {
    if (o.allUsb) {
      *error = e.what();
      return false;
    }
  }
  const auto info = [](const PortRecord& r, const std::string& name) {
    return PortInfo{name, r.devicePath, r.description, r.serialNumber};
  };
  if (o.allUsb) {
    for (const PortRecord& r : found)
      if (r.isUsb) ports->push_back(info(r, r.portName.empty() ? r.devicePath : r.portName));
    if (ports->empty()) *error = "no USB serial port found";
    return !ports->empty();
  }
  std::vector<std::string> names;
  if (!ParsePortList(o.ports, &names, error)) return false;
  for (const std::string& name : names) {
    PortInfo port{name, "", "", ""};
    for (const PortRecord& r : found) {
      if (strcasecmp(r.portName.c_str(), name.c_str()) == 0 || r.devicePath == name) {
        port = info(r, name);
        break;
      }
    }
    ports->push_back(port);
  }
  return true;
}

std::string TraceName(const std::string& port) {
  return port.substr(port.rfind('/') + 1);
}

// One port: its view, its child, and the run it is in.
struct Station {
  explicit Station(PortInfo info) : run(std::move(info)) {}
  PortRun run;
  pid_t pid = -1;
  int fd = -1;
  MessageReader reader;
  int watchBaud = 9600;
  int64_t startUnixMs = 0;
};

class Line {
 public:
  Line(const LineOptions& o, std::vector<PortInfo> ports, const ImagePlan& plan,
       std::vector<std::string> childWords, int logFd, std::string singleTrace)
      : o_(o),
        plan_(plan),
        words_(std::move(childWords)),
        logFd_(logFd),
        singleTrace_(std::move(singleTrace)),
        live_(isatty(STDOUT_FILENO) == 1) {
    for (int slot = 0; slot < kSlotCount; ++slot) present_[slot] = false;
    for (const PlannedImage& image : plan.images) present_[image.slot] = true;
    for (PortInfo& p : ports) stations_.emplace_back(std::move(p));
  }

  int run() {
    if (live_) WriteAll(STDOUT_FILENO, "\x1b[?25l");
    // One pass over /proc for the holders of every port, which the children
    // use when they open their ports, rather than a pass each
    // (port_holders.h); the children started later scan for themselves.
    std::vector<dev_t> devices;
    for (const Station& s : stations_) {
      const std::string path = DevicePathForPort(s.run.info().port, nullptr);
      struct stat st;
      if (!path.empty() && stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        devices.push_back(st.st_rdev);
    }
    FindPortHoldersAhead(devices);
    // Every child is started before any of them begins its run, so that the
    // runs begin together (StartPortChild).
    int gate[2];
    const bool gated = pipe2(gate, O_CLOEXEC) == 0;
    for (Station& s : stations_) start(s, false, gated ? gate[0] : -1);
    if (gated) {
      WriteAll(gate[1], std::string(stations_.size(), 'g'));
      close(gate[0]);
      close(gate[1]);
    }
    ForgetHoldersAhead();
    int64_t stopSentMs = -1, lastDrawMs = -1;
    int stopsPassed = 0;
    for (;;) {
      std::vector<pollfd> fds;
      std::vector<Station*> polled;
      for (Station& s : stations_) {
        if (s.fd < 0) continue;
        fds.push_back({s.fd, POLLIN, 0});
        polled.push_back(&s);
      }
      if (fds.empty()) break;
      // Stops are passed on once each: the first ends every run at its next
      // check, the second ends every child at once.
      const int stops = g_stops;
      for (; stopsPassed < std::min(stops, 2); ++stopsPassed) {
        for (Station& s : stations_)
          if (s.pid > 0) kill(s.pid, SIGTERM);
        stopSentMs = SteadyMs();
      }
      if (stopsPassed >= 2 && SteadyMs() - stopSentMs > 2000) {
        for (Station& s : stations_)
          if (s.pid > 0) kill(s.pid, SIGKILL);
      }
      // Only the pipes that have something (or have ended) are read.
      if (poll(fds.data(), fds.size(), live_ ? 100 : 250) > 0) {
        for (size_t i = 0; i < fds.size(); ++i)
          if (fds[i].revents != 0) readFrom(*polled[i]);
      }
      if (live_ && SteadyMs() - lastDrawMs >= 100) {
        draw();
        lastDrawMs = SteadyMs();
      }
    }
    if (live_) {
      draw();
      WriteAll(STDOUT_FILENO, "\x1b[?25h");
      for (const std::string& line : held_) Say(line);
    }
    std::vector<PortRun> runs;
    bool all = true;
    for (const Station& s : stations_) {
      runs.push_back(s.run);
      all = all && s.run.runs() > 0 && s.run.completedRuns() == s.run.runs();
    }
    WriteAll(STDOUT_FILENO, "\n" + SummaryTable(runs, o_.repeat));
    return all ? 0 : 1;
  }

 private:
  void start(Station& s, bool watchFirst, int gate = -1) {
    ChildPlan plan;
    plan.startGate = gate;
    plan.port = s.run.info().port;
    plan.words = words_;
    plan.watchFirst = watchFirst;
    plan.watchBaud = s.watchBaud;
    plan.quietMs = o_.quietMs;
    const int receiver = s.run.runs() + 1;
    if (!o_.traceDir.empty()) {
      plan.tracePath = o_.traceDir + "/" + TraceName(plan.port) +
                       (o_.repeat ? "-" + std::to_string(receiver) : "") + ".trace";
    } else {
      plan.tracePath = singleTrace_;
    }
    s.run.start(present_, SteadyMs());
    s.pid = StartPortChild(plan, &s.fd);
    if (s.pid < 0) {
      event(s.run.info().port + ": cannot start its process: " + std::strerror(errno), true);
      s.fd = -1;
      s.run.finish(SteadyMs());
    }
  }

  // One event: a plain line of its own, or with the live view, for an
  // error, a line kept for when the view ends.
  void event(const std::string& line, bool isError = false) {
    if (line.empty()) return;
    if (!live_) {
      Say(line);
    } else if (isError) {
      held_.push_back(line);
    }
  }

  void readFrom(Station& s) {
    char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(s.fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;  // nothing more for now
      if (n == 0) break;  // the child has ended
      s.reader.feed(buffer, static_cast<size_t>(n));
      for (Message m; s.reader.next(&m);) {
        if (m.kind == MessageKind::kBegin) s.startUnixMs = UnixMs();
        if (m.kind == MessageKind::kFirmwareFound) s.watchBaud = m.a;
        event(s.run.apply(m, SteadyMs()), m.kind == MessageKind::kError);
      }
      if (s.reader.corrupt()) break;
    }
    close(s.fd);
    s.fd = -1;
    int raw = 0;
    waitpid(s.pid, &raw, 0);
    s.pid = -1;
    const std::string ended = s.run.finish(SteadyMs());
    if (ended.empty()) return;  // stopped while waiting: no run took place
    event(ended);
    log(s);
    if (o_.repeat && g_stops == 0) start(s, true);
  }

  void log(const Station& s) {
    if (logFd_ < 0) return;
    RunLogEntry e;
    e.startUnixMs = s.startUnixMs;
    e.port = s.run.info().port;
    e.device = s.run.info().device;
    e.adapterSerial = s.run.info().serial;
    e.receiver = s.run.runs();
    for (const PlannedImage& image : plan_.images)
      e.images.push_back(
          {image.slot, image.path, image.length, image.crc, s.run.outcomes()[image.slot]});
    e.result = s.run.resultWord();
    e.code = s.run.result();
    e.durationMs = s.run.durationMs();
    e.output = s.run.output();
    if (!WriteAll(logFd_, RunLogRecord(e)))
      std::fprintf(stderr, "velmora-line: the log could not be written: %s\n",
                   std::strerror(errno));
  }

  void draw() {
    winsize size{};
    const int width =
        ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col - 1 : 119;
    std::string out;
    if (drawn_) out += "\x1b[" + std::to_string(stations_.size()) + "A";
    const int64_t now = SteadyMs();
    for (const Station& s : stations_) out += "\r\x1b[2K" + s.run.row(now, width) + "\n";
    drawn_ = true;
    WriteAll(STDOUT_FILENO, out);
  }

  const LineOptions& o_;
  const ImagePlan& plan_;
  std::vector<std::string> words_;
  int logFd_;
  std::string singleTrace_;
  bool live_;
  bool drawn_ = false;
  bool present_[kSlotCount];
  std::vector<Station> stations_;
  std::vector<std::string> held_;  // lines for standard output once the live view ends
};

}  // namespace

int RunLine(const LineOptions& o) {
  ImagePlan plan;
  std::string error;
  if (!PlanImages(o.programmer, &plan, &error)) {
    std::fputs(error.c_str(), stdout);
    return 2;
  }
  std::vector<PortInfo> ports;
  if (!FindPorts(o, &ports, &error)) return Refuse(error);

  // Each run's trace: a file per port in --trace DIR, or the one file that
  // VELMORA_TRACE names, for one port and one receiver only.
  std::string singleTrace;
  const char* envTrace = std::getenv("VELMORA_TRACE");
  if (!o.traceDir.empty()) {
    struct stat st;
    if (stat(o.traceDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        access(o.traceDir.c_str(), W_OK | X_OK) != 0)
      return Refuse("cannot write traces in " + o.traceDir + ": " +
                    (errno ? std::strerror(errno) : "not a directory"));
  } else if (envTrace && *envTrace) {
    if (ports.size() > 1 || o.repeat)
      return Refuse("VELMORA_TRACE names one file, which " +
                    (o.repeat ? std::string("the receivers of station mode")
                              : std::to_string(ports.size()) + " ports") +
                    " cannot share: use --trace DIR (one file per run)");
    std::string why;
    const int fd = OpenOutputFile(envTrace, OutputMode::kReplace, &why);
    if (fd < 0) return Refuse(std::string("cannot write the trace ") + envTrace + ": " + why);
    close(fd);
    singleTrace = envTrace;
  }

  int logFd = -1;
  if (!o.log.empty()) {
    std::string why;
    logFd = OpenOutputFile(o.log, OutputMode::kAppend, &why);
    if (logFd < 0) return Refuse("cannot write the log " + o.log + ": " + why);
  }

  // The children read the images from memory, exactly as checked.
  std::vector<std::string> childWords;
  if (plan.baud) childWords = {"-baud", std::to_string(plan.baud)};
  for (const PlannedImage& image : plan.images) {
    const std::string path = ShareImage(image.data.get(), image.length);
    if (path.empty()) return Refuse(std::string("cannot hold the images: ") + std::strerror(errno));
    childWords.push_back(std::string("-") + kImageTable[image.slot].key);
    childWords.push_back(path);
  }

  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Line line(o, std::move(ports), plan, std::move(childWords), logFd, singleTrace);
  const int status = line.run();
  if (logFd >= 0) close(logFd);
  return status;
}
