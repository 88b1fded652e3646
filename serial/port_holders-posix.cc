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

#include <cstring>
#include <memory>

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

// Whether one of the descriptors listed in `fds` (a process's fd directory)
// is the character device `device`, leaving out descriptor `skipFd`.
bool HasDescriptorOn(DIR* fds, dev_t device, int skipFd) {
  while (const dirent* entry = ::readdir(fds)) {
    const int number = ParseCanonicalNumber(entry->d_name, INT_MAX);
    if (number < 0 || number == skipFd) continue;
    struct stat st;
    // Each entry is a link to what the descriptor has open; stat follows it.
    if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
        st.st_rdev == device) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<PortHolder> FindPortHolder(dev_t device, int ownFd) {
  DirStream proc(::opendir("/proc"), ::closedir);
  if (!proc) return std::nullopt;
  const long self = ::getpid();
  while (const dirent* entry = ::readdir(proc.get())) {
    const long pid = ParseCanonicalNumber(entry->d_name, INT_MAX);
    if (pid <= 0) continue;
    const std::string fdDir = std::string(entry->d_name) + "/fd";
    DirStream fds = OpenDirAt(::dirfd(proc.get()), fdDir.c_str());
    if (!fds) continue;
    if (HasDescriptorOn(fds.get(), device, pid == self ? ownFd : -1)) {
      return PortHolder{pid, CommandName(::dirfd(proc.get()), entry->d_name)};
    }
  }
  return std::nullopt;
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
