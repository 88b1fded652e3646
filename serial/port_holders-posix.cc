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

// For each of `devices`, the first process in process id order with a
// descriptor open on it, leaving out descriptor `ownFd` of this process.
std::vector<std::optional<PortHolder>> ScanProc(const std::vector<dev_t>& devices, int ownFd) {
  std::vector<std::optional<PortHolder>> holders(devices.size());
  DirStream proc(::opendir("/proc"), ::closedir);
  if (!proc) return holders;
  const long self = ::getpid();
  size_t left = devices.size();
  while (left > 0) {
    const dirent* entry = ::readdir(proc.get());
    if (entry == nullptr) break;
    const long pid = ParseCanonicalNumber(entry->d_name, INT_MAX);
    if (pid <= 0) continue;
    const std::string fdDir = std::string(entry->d_name) + "/fd";
    DirStream fds = OpenDirAt(::dirfd(proc.get()), fdDir.c_str());
    if (!fds) continue;
    left -= MarkDescriptors(fds.get(), ::dirfd(proc.get()), entry->d_name, pid == self ? ownFd : -1,
                            devices, &holders);
  }
  return holders;
}

// The pass made ahead, while it counts.
struct AheadPass {
  std::chrono::steady_clock::time_point began;
  std::vector<dev_t> devices;
  std::vector<std::optional<PortHolder>> holders;
};
std::mutex g_aheadMutex;
AheadPass g_ahead;

// Whether the pass ahead answers for `device`; its holder then in `holder`.
bool HolderFromAhead(dev_t device, std::optional<PortHolder>* holder) {
  std::lock_guard<std::mutex> hold(g_aheadMutex);
  if (std::chrono::steady_clock::now() - g_ahead.began > std::chrono::milliseconds(kHoldersAheadMs))
    return false;
  for (size_t i = 0; i < g_ahead.devices.size(); ++i) {
    if (g_ahead.devices[i] != device) continue;
    *holder = g_ahead.holders[i];
    return true;
  }
  return false;
}

}  // namespace

std::optional<PortHolder> FindPortHolder(dev_t device, int ownFd) {
  std::optional<PortHolder> holder;
  if (HolderFromAhead(device, &holder)) return holder;
  return ScanProc({device}, ownFd).front();
}

void FindPortHoldersAhead(const std::vector<dev_t>& devices) {
  const auto began = std::chrono::steady_clock::now();
  std::vector<std::optional<PortHolder>> holders = ScanProc(devices, -1);
  std::lock_guard<std::mutex> hold(g_aheadMutex);
  g_ahead = AheadPass{began, devices, std::move(holders)};
}

void ForgetHoldersAhead() {
  std::lock_guard<std::mutex> hold(g_aheadMutex);
  g_ahead = AheadPass{};
}

std::string BusyWith(const std::optional<PortHolder>& holder) {
  if (!holder) return "another program has it open";
  return "held by " + std::to_string(holder->pid) + " (" + holder->name + ")";
}

std::string BusyReason(const std::string& path, const std::string& label) {
  struct stat st;
  std::optional<PortHolder> holder;
  if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
    holder = FindPortHolder(st.st_rdev, -1);
  return label + " is busy: " + BusyWith(holder);
}

bool ClaimPort(int fd, const std::string& label, bool keepLock, std::string* why) {
  struct stat st;
  std::optional<PortHolder> holder;
  if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) holder = FindPortHolder(st.st_rdev, fd);
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
  if (holder || exclusive != 0) {
    *why = label + " is busy: " + BusyWith(holder);
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
