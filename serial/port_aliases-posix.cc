// The port alias directory on POSIX: its checks, its links and the lock
// files of the simulators that hold them.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "serial/port_aliases.h"
#include "serial/port_names.h"

namespace {

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// A descriptor that is closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// `dir` as its parent and its last part: "/a/ports" gives "/a" and "ports",
// "/ports" gives "/" and "ports", "ports" gives "." and "ports".
void SplitPath(std::string dir, std::string* parent, std::string* name) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const size_t slash = dir.rfind('/');
  if (slash == std::string::npos) {
    *parent = ".";
    *name = dir;
  } else {
    *parent = slash == 0 ? "/" : dir.substr(0, slash);
    *name = dir.substr(slash + 1);
  }
}

// Why `path` (`name` in the directory `at`, or a path when `at` is AT_FDCWD)
// did not open as a directory with `error`.
std::string NotADirectory(int at, const std::string& name, const std::string& path, int error) {
  struct stat st;
  if (error == ENOTDIR && ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return path + (S_ISLNK(st.st_mode) ? " is a symbolic link" : " is not a directory");
  }
  return "cannot look at " + path + ": " + ErrnoText(error);
}

// Creates `dir` and its missing parents with mode 0700.
bool MakeDirectories(const std::string& dir, std::string* why) {
  for (size_t slash = 0; slash != std::string::npos;) {
    slash = dir.find('/', slash + 1);
    const std::string part = dir.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "cannot create " + part + ": " + ErrnoText(errno);
      return false;
    }
  }
  return true;
}

// Opens the alias directory `dir` when it can be trusted to name devices (see
// the header), creating it first when `create` and it is missing. Returns the
// descriptor; -1 with a reason, and `*exists` false when nothing is there.
int OpenAliasDirectory(const std::string& dir, bool create, bool* exists, std::string* why) {
  *exists = true;
  std::string parentPath, name;
  SplitPath(dir, &parentPath, &name);
  // Above the parent, paths are followed as the user wrote them; the parent
  // and the directory are never reached through a link.
  if (create && !MakeDirectories(parentPath, why)) return -1;
  const Fd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!parent) {
    *exists = errno != ENOENT;
    *why = NotADirectory(AT_FDCWD, parentPath, parentPath, errno);
    return -1;
  }
  if (create && ::mkdirat(parent.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = "cannot create " + dir + ": " + ErrnoText(errno);
    return -1;
  }
  Fd child(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!child) {
    *exists = errno != ENOENT;
    *why = NotADirectory(parent.get(), name, dir, errno);
    return -1;
  }
  struct stat up, st;
  if (::fstat(parent.get(), &up) != 0 || ::fstat(child.get(), &st) != 0) {
    *why = "cannot look at " + dir + ": " + ErrnoText(errno);
    return -1;
  }
  const uid_t me = ::geteuid();
  if (st.st_uid != me) {
    *why = dir + " does not belong to you";
  } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    *why = dir + " can be written by others";
  } else if (up.st_uid != me && up.st_uid != 0) {
    // Its owner may rename what is in it, sticky or not.
    *why = "its parent " + parentPath + " belongs to another user";
  } else if ((up.st_mode & (S_IWGRP | S_IWOTH)) && !(up.st_mode & S_ISVTX)) {
    *why = "its parent " + parentPath + " can be written by others";
  } else {
    return child.release();
  }
  return -1;
}

// Warns on standard error that `dir` is ignored, once per directory.
void WarnIgnored(const std::string& dir, const std::string& reason) {
  static std::mutex mutex;
  static std::set<std::string> warned;
  std::lock_guard<std::mutex> lock(mutex);
  if (!warned.insert(dir).second) return;
  std::fprintf(stderr, "velmora: ignoring the port aliases in %s: %s\n", dir.c_str(),
               reason.c_str());
}

// The alias directory, open, when it exists and is safe; -1 otherwise (with
// the warning for an unsafe one). `dir` receives its path.
int OpenUsableAliasDirectory(std::string* dir) {
  *dir = PortAliasDirectory();
  bool exists = false;
  std::string reason;
  const int fd = OpenAliasDirectory(*dir, false, &exists, &reason);
  if (fd < 0 && exists) WarnIgnored(*dir, reason);
  return fd;
}

// The target of link `name` in the directory open on `dirFd`, as it is
// written; empty when there is no such link.
std::string ReadLinkAt(int dirFd, const std::string& name) {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlinkat(dirFd, name.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

// `target` made absolute against the directory `dir`.
std::string AgainstDirectory(const std::string& dir, const std::string& target) {
  return target[0] == '/' ? target : dir + "/" + target;
}

// The lock file of alias `name`.
std::string LockName(const std::string& name) {
  return name + ".lock";
}

// What a simulator's lock file says: its process, then the terminal its
// alias names, one line each.
struct LockRecord {
  long pid = 0;
  std::string target;
};

LockRecord ReadLockRecord(int fd) {
  char buffer[PATH_MAX + 32];
  const ssize_t length = ::pread(fd, buffer, sizeof buffer, 0);
  LockRecord record;
  if (length <= 0) return record;
  const std::string text(buffer, static_cast<size_t>(length));
  const size_t first = text.find('\n');
  const size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
  if (second == std::string::npos) return record;
  record.pid = ParseCanonicalNumber(std::string_view(text).substr(0, first), INT_MAX);
  record.target = text.substr(first + 1, second - first - 1);
  return record;
}

// A write lock over a whole lock file, for F_OFD_SETLK and F_OFD_GETLK. Such
// a lock belongs to the open file (not to the process), so closing another
// descriptor of the same file never lets it go.
struct flock WholeFileLock() {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

// Whether alias `name`, whose link reads `target`, was left by a simulator
// that has ended: its lock file is there, nobody holds the lock, and it names
// this very target. Asked without taking the lock.
bool LeftByEndedSimulator(int dirFd, const std::string& name, const std::string& target) {
  const Fd lock(
      ::openat(dirFd, LockName(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!lock || ::fstat(lock.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  struct flock probe = WholeFileLock();
  // A lock that cannot be asked about counts as held: the alias is followed.
  if (::fcntl(lock.get(), F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK) return false;
  return ReadLockRecord(lock.get()).target == target;
}

// Takes the lock file of alias `name` in the directory open on `dirFd`
// (`dir`), creating it when missing. Returns its descriptor, locked; -1 with
// a reason when a running simulator holds it or it cannot be had.
int TakeAliasLock(int dirFd, const std::string& dir, const std::string& name, std::string* why) {
  const std::string lockName = LockName(name);
  // A holder that ends removes its file; one opened just before that is
  // not the file under the name any more, and the new one is tried.
  for (int attempt = 0; attempt < 10; ++attempt) {
    Fd lock(::openat(dirFd, lockName.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!lock) {
      *why = "cannot create " + dir + "/" + lockName + ": " + ErrnoText(errno);
      return -1;
    }
    struct flock take = WholeFileLock();
    if (::fcntl(lock.get(), F_OFD_SETLK, &take) != 0) {
      if (errno == EAGAIN || errno == EACCES) {
        *why = name + " belongs to a running simulator (process " +
               std::to_string(ReadLockRecord(lock.get()).pid) + ")";
      } else {
        *why = "cannot lock " + dir + "/" + lockName + ": " + ErrnoText(errno);
      }
      return -1;
    }
    struct stat held, named;
    if (::fstat(lock.get(), &held) == 0 &&
        ::fstatat(dirFd, lockName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return lock.release();
    }
  }
  *why = "cannot lock " + dir + "/" + lockName + ": it keeps being replaced";
  return -1;
}

// Makes link `name` in the directory open on `dirFd` (`dir`) point to
// `target`: a new link under a temporary name, renamed over the old one, so
// a reader sees either the old alias or the new one.
bool MakeLinkAt(int dirFd, const std::string& dir, const std::string& name,
                const std::string& target, std::string* why) {
  const std::string temporary = name + ".new" + std::to_string(::getpid());
  ::unlinkat(dirFd, temporary.c_str(), 0);
  if (::symlinkat(target.c_str(), dirFd, temporary.c_str()) != 0) {
    *why = "cannot create " + dir + "/" + temporary + ": " + ErrnoText(errno);
    return false;
  }
  if (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0) {
    *why = "cannot create " + dir + "/" + name + ": " + ErrnoText(errno);
    ::unlinkat(dirFd, temporary.c_str(), 0);
    return false;
  }
  return true;
}

// Checks the number and target of a new alias and opens (or creates) the
// alias directory for it; -1 with a reason.
int OpenForNewAlias(int number, const std::string& target, std::string* dir, std::string* why) {
  if (ComName(number).empty()) {
    *why = "no alias for COM" + std::to_string(number) + ": ports are COM1 to COM256";
    return -1;
  }
  if (target.empty() || target[0] != '/') {
    *why = "an alias must name an absolute device path, not \"" + target + "\"";
    return -1;
  }
  *dir = PortAliasDirectory();
  bool exists = false;
  std::string reason;
  const int fd = OpenAliasDirectory(*dir, true, &exists, &reason);
  if (fd < 0) *why = "cannot use the port aliases in " + *dir + ": " + reason;
  return fd;
}

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

std::string PortAliasDirectory() {
  const std::string ports = Getenv("VELMORA_PORTS");
  if (!ports.empty()) return ports;
  const std::string runtime = Getenv("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime + "/velmora/ports";
  return "/tmp/velmora-" + std::to_string(::geteuid()) + "/ports";
}

PortAliasLookup LookUpPortAlias(int number) {
  PortAliasLookup lookup;
  const std::string name = ComName(number);
  if (name.empty()) return lookup;
  const Fd aliases(OpenUsableAliasDirectory(&lookup.directory));
  if (!aliases) return lookup;
  const std::string target = ReadLinkAt(aliases.get(), name);
  if (target.empty()) return lookup;
  lookup.leftByEndedSimulator = LeftByEndedSimulator(aliases.get(), name, target);
  if (!lookup.leftByEndedSimulator) lookup.target = AgainstDirectory(lookup.directory, target);
  return lookup;
}

std::vector<PortAlias> ListPortAliases() {
  std::vector<PortAlias> aliases;
  std::string dir;
  const Fd dirFd(OpenUsableAliasDirectory(&dir));
  if (!dirFd) return aliases;
  // The stream reads through a descriptor of its own on the same directory.
  const int listFd = ::dup(dirFd.get());
  DIR* stream = listFd < 0 ? nullptr : ::fdopendir(listFd);
  if (!stream) {
    if (listFd >= 0) ::close(listFd);
    return aliases;
  }
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    const int number = ComNumber(name);
    // Only the upper-case names that RegisterPortAlias writes and lookup reads.
    if (number == 0 || name != ComName(number)) continue;
    const std::string target = ReadLinkAt(dirFd.get(), name);
    if (target.empty() || LeftByEndedSimulator(dirFd.get(), name, target)) continue;
    aliases.push_back({number, AgainstDirectory(dir, target)});
  }
  ::closedir(stream);
  std::sort(aliases.begin(), aliases.end(),
            [](const PortAlias& a, const PortAlias& b) { return a.number < b.number; });
  return aliases;
}

bool RegisterPortAlias(int number, const std::string& target, std::string* why) {
  std::string dir, reason;
  const Fd dirFd(OpenForNewAlias(number, target, &dir, &reason));
  if (!dirFd) {
    SetWhy(why, reason);
    return false;
  }
  // Held while the link is made, so no simulator takes the number meanwhile;
  // then removed, for a hand-made alias has no lock file.
  const std::string name = ComName(number);
  const Fd lock(TakeAliasLock(dirFd.get(), dir, name, &reason));
  if (!lock) {
    SetWhy(why, reason);
    return false;
  }
  const bool made = MakeLinkAt(dirFd.get(), dir, name, target, &reason);
  ::unlinkat(dirFd.get(), LockName(name).c_str(), 0);
  if (!made) SetWhy(why, reason);
  return made;
}

bool RemovePortAlias(int number, std::string* why) {
  const std::string name = ComName(number);
  if (name.empty()) return true;
  const std::string dir = PortAliasDirectory();
  bool exists = false;
  std::string reason;
  const Fd dirFd(OpenAliasDirectory(dir, false, &exists, &reason));
  if (!dirFd) {
    if (!exists) return true;
    SetWhy(why, "cannot use the port aliases in " + dir + ": " + reason);
    return false;
  }
  if (::unlinkat(dirFd.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
    SetWhy(why, "cannot remove " + dir + "/" + name + ": " + ErrnoText(errno));
    return false;
  }
  return true;
}

LivePortAlias::~LivePortAlias() {
  release(nullptr);
}

bool LivePortAlias::claim(int number, const std::string& target, std::string* why) {
  std::string dir, reason;
  if (claimed()) {
    SetWhy(why, "already holds " + name_);
    return false;
  }
  Fd dirFd(OpenForNewAlias(number, target, &dir, &reason));
  const std::string name = ComName(number);
  Fd lock(dirFd ? TakeAliasLock(dirFd.get(), dir, name, &reason) : -1);
  if (!lock) {
    SetWhy(why, reason);
    return false;
  }
  const std::string record = std::to_string(::getpid()) + "\n" + target + "\n";
  if (::ftruncate(lock.get(), 0) != 0 || ::pwrite(lock.get(), record.data(), record.size(), 0) !=
                                             static_cast<ssize_t>(record.size())) {
    SetWhy(why, "cannot write " + dir + "/" + LockName(name) + ": " + ErrnoText(errno));
    ::unlinkat(dirFd.get(), LockName(name).c_str(), 0);
    return false;
  }
  if (!MakeLinkAt(dirFd.get(), dir, name, target, &reason)) {
    SetWhy(why, reason);
    ::unlinkat(dirFd.get(), LockName(name).c_str(), 0);
    return false;
  }
  dirFd_ = dirFd.release();
  lockFd_ = lock.release();
  name_ = name;
  target_ = target;
  return true;
}

bool LivePortAlias::release(std::string* why) {
  if (!claimed()) return true;
  bool ok = true;
  // Only our own link: someone may have pointed the name elsewhere since.
  if (ReadLinkAt(dirFd_, name_) == target_ && ::unlinkat(dirFd_, name_.c_str(), 0) != 0 &&
      errno != ENOENT) {
    SetWhy(why, "cannot remove the alias " + name_ + ": " + ErrnoText(errno));
    ok = false;
  }
  // Removed while still locked, so nobody takes a file that is going away.
  ::unlinkat(dirFd_, LockName(name_).c_str(), 0);
  ::close(lockFd_);
  ::close(dirFd_);
  lockFd_ = dirFd_ = -1;
  return ok;
}
