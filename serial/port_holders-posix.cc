// Finding who holds a device: the exclusive mode, the lock, and the
// descriptor tables under /proc.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "serial/port_holders.h"
#include "serial/port_names.h"

namespace {

using DirStream = std::unique_ptr<DIR, int (*)(DIR*)>;

// The directory `name` under `parent` (a descriptor) as a stream of its own;
// null when it cannot be read (a process that ended, one whose descriptors
// are closed to us).
DirStream OpenDirAt(int parent, const char* name) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return DirStream(nullptr, ::closedir);
  DirStream stream(::fdopendir(fd), ::closedir);
  if (!stream) ::close(fd);
  return stream;
}

// The command name of process `pid`, without its line end.
std::string CommandName(int proc, const char* pid) {
  const std::string path = std::string(pid) + "/comm";
  const int fd = ::openat(proc, path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "?";
  char buffer[64];
  const ssize_t length = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (length <= 0) return "?";
  std::string name(buffer, static_cast<size_t>(length));
  while (!name.empty() && name.back() == '\n') name.pop_back();
  return name.empty() ? "?" : name;
}

// Marks in `holders` the devices of `devices` that one of the descriptors
// listed in `fds` (the fd directory of process `pid`) is open on, leaving out
// descriptor `skipFd`; a device already marked keeps its first holder.
// Returns how many devices it marked.
size_t MarkDescriptors(DIR* fds, int proc, const char* pid, int skipFd,
                       const std::vector<dev_t>& devices,
                       std::vector<std::optional<PortHolder>>* holders) {
  size_t marked = 0;
  while (const dirent* entry = ::readdir(fds)) {
    const int number = ParseCanonicalNumber(entry->d_name, INT_MAX);
    if (number < 0 || number == skipFd) continue;
    struct stat st;
    // Each entry is a link to what the descriptor has open; stat follows it.
    if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
    for (size_t i = 0; i < devices.size(); ++i) {
      if (devices[i] != st.st_rdev || (*holders)[i]) continue;
      (*holders)[i] = PortHolder{ParseCanonicalNumber(pid, INT_MAX), CommandName(proc, pid)};
      ++marked;
    }
  }
  return marked;
}

// What one reading of /proc found.
struct Scan {
  // For each device, the first process in process id order with a
  // descriptor open on it.
  std::vector<std::optional<PortHolder>> holders;
  // Whether every process's descriptors could be read (or it ended meanwhile).
  bool sawEveryProcess = false;
};

// For each of `devices`, the first process in process id order with a
// descriptor open on it, leaving out descriptor `ownFd` of this process.
Scan ScanProc(const std::vector<dev_t>& devices, int ownFd) {
  Scan scan;
  std::vector<std::optional<PortHolder>>& holders = scan.holders;
  holders.resize(devices.size());
  DirStream proc(::opendir("/proc"), ::closedir);
  if (!proc) return scan;
  scan.sawEveryProcess = true;
  const long self = ::getpid();
  size_t left = devices.size();
  while (left > 0) {
    const dirent* entry = ::readdir(proc.get());
    if (entry == nullptr) break;
    const long pid = ParseCanonicalNumber(entry->d_name, INT_MAX);
    if (pid <= 0) continue;
    const std::string fdDir = std::string(entry->d_name) + "/fd";
    DirStream fds = OpenDirAt(::dirfd(proc.get()), fdDir.c_str());
    if (!fds) {
      // A process that ended meanwhile hides nothing; one closed to us may.
      if (errno != ENOENT) scan.sawEveryProcess = false;
      continue;
    }
    left -= MarkDescriptors(fds.get(), ::dirfd(proc.get()), entry->d_name, pid == self ? ownFd : -1,
                            devices, &holders);
  }
  return scan;
}

// The pass made ahead, while it counts.
struct AheadPass {
  std::chrono::steady_clock::time_point began;
  std::vector<dev_t> devices;
  Scan scan;
};
std::mutex g_aheadMutex;
AheadPass g_ahead;

// Whether the pass ahead answers for `device`; its holder then in `holder`,
// and whether it saw every process in `sawEveryProcess`.
bool HolderFromAhead(dev_t device, std::optional<PortHolder>* holder, bool* sawEveryProcess) {
  std::lock_guard<std::mutex> hold(g_aheadMutex);
  if (std::chrono::steady_clock::now() - g_ahead.began > std::chrono::milliseconds(kHoldersAheadMs))
    return false;
  for (size_t i = 0; i < g_ahead.devices.size(); ++i) {
    if (g_ahead.devices[i] != device) continue;
    *holder = g_ahead.scan.holders[i];
    *sawEveryProcess = g_ahead.scan.sawEveryProcess;
    return true;
  }
  return false;
}

}  // namespace

std::optional<PortHolder> FindPortHolder(dev_t device, int ownFd, bool* sawEveryProcess) {
  std::optional<PortHolder> holder;
  bool sawAll = false;
  if (!HolderFromAhead(device, &holder, &sawAll)) {
    Scan scan = ScanProc({device}, ownFd);
    holder = scan.holders.front();
    sawAll = scan.sawEveryProcess;
  }
  if (sawEveryProcess) *sawEveryProcess = sawAll;
  return holder;
}

void FindPortHoldersAhead(const std::vector<dev_t>& devices) {
  const auto began = std::chrono::steady_clock::now();
  Scan scan = ScanProc(devices, -1);
  std::lock_guard<std::mutex> hold(g_aheadMutex);
  g_ahead = AheadPass{began, devices, std::move(scan)};
}

void ForgetHoldersAhead() {
  std::lock_guard<std::mutex> hold(g_aheadMutex);
  g_ahead = AheadPass{};
}

std::string BusyWith(const std::optional<PortHolder>& holder) {
  if (!holder) return "another program has it open";
  return "held by " + std::to_string(holder->pid) + " (" + holder->name + ")";
}

namespace {

// What a reason adds when the exclusive mode is set and no holder was seen.
std::string LeftOverFlag() {
  return ::geteuid() == 0
             ? "; if no program uses it, its exclusive flag may be left over from one that "
               "was killed, but not every process could be seen here to be sure: restart the "
               "program that serves the port, or unplug its adapter"
             : "; if no program uses it, its exclusive flag may be left over from one that "
               "was killed: a run as root clears a flag that no process holds";
}

}  // namespace

std::string BusyReason(const std::string& path, const std::string& label) {
  struct stat st;
  std::optional<PortHolder> holder;
  if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
    holder = FindPortHolder(st.st_rdev, -1);
  // Only the exclusive flag makes an open fail as busy.
  return label + " is busy: " + BusyWith(holder) + (holder ? "" : LeftOverFlag());
}

bool ClaimPort(int fd, const std::string& label, bool keepLock, std::string* why) {
  struct stat st;
  std::optional<PortHolder> holder;
  bool sawEveryProcess = false;
  if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode))
    holder = FindPortHolder(st.st_rdev, fd, &sawEveryProcess);
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
  // The flag is set, yet no process has the port open: the one that set it
  // has ended without clearing it (a pseudo-terminal keeps the flag for as
  // long as its other side is open). Cleared, the port is taken as free.
  if (exclusive != 0 && !holder && sawEveryProcess && ::ioctl(fd, TIOCNXCL) == 0) exclusive = 0;
  if (holder || exclusive != 0) {
    *why = label + " is busy: " + BusyWith(holder) + (holder ? "" : LeftOverFlag());
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *why = errno == EWOULDBLOCK ? label + " is busy: " + BusyWith(std::nullopt)
                                : "cannot lock " + label + ": " + std::strerror(errno);
    return false;
  }
  if (!keepLock) ::flock(fd, LOCK_UN);
  return true;
}
