// The POSIX half of the port names: the device table and the alias directory.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "serial/port_names.h"

namespace {

// One row of the table: COM<firstNumber> and the following 31 numbers are
// <prefix>0 to <prefix>31.
struct TableRow {
  int firstNumber;
  const char* prefix;
};

constexpr int kRowLength = 32;
constexpr TableRow kTable[] = {
    {1, "ttyS"},
    {33, "ttyUSB"},
    {65, "ttyACM"},
    {97, "ttyAMA"},
};

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// Whether `dir` can be trusted to name devices: a directory owned by the
// effective user that neither group nor others may write to. `exists` tells
// whether there is anything at `dir` at all; a reason goes to `why`.
bool DirectoryIsSafe(const std::string& dir, bool* exists, std::string* why) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    *exists = false;
    *why = "cannot look at " + dir + ": " + ErrnoText(errno);
    return false;
  }
  *exists = true;
  if (!S_ISDIR(st.st_mode)) {
    *why = dir + " is not a directory";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    *why = dir + " does not belong to you";
    return false;
  }
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    *why = dir + " can be written by others";
    return false;
  }
  return true;
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

// The alias directory when it exists and is safe; empty otherwise (with the
// warning for an unsafe one).
std::string UsableAliasDirectory() {
  const std::string dir = PortAliasDirectory();
  bool exists = false;
  std::string reason;
  if (DirectoryIsSafe(dir, &exists, &reason)) return dir;
  if (exists) WarnIgnored(dir, reason);
  return std::string();
}

// The target of link `name` in `dir`, made absolute against `dir`; empty when
// there is no such link.
std::string ReadAlias(const std::string& dir, const std::string& name) {
  char buffer[PATH_MAX];
  const std::string link = dir + "/" + name;
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return std::string();
  std::string target(buffer, static_cast<size_t>(length));
  if (target[0] != '/') target = dir + "/" + target;
  return target;
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

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

std::string DevicePathForPort(const std::string& portName, std::string* why) {
  return DevicePathForPort(portName, "/dev", why);
}

std::string DevicePathForPort(const std::string& portName, const std::string& deviceRoot,
                              std::string* why) {
  if (!portName.empty() && portName[0] == '/') return portName;
  const int number = ComNumber(portName);
  if (number == 0) {
    SetWhy(why, "\"" + portName +
                    "\" stands for no device: name a port COM1 to COM256 or give an absolute "
                    "device path");
    return std::string();
  }
  const std::string dir = UsableAliasDirectory();
  if (!dir.empty()) {
    const std::string target = ReadAlias(dir, ComName(number));
    if (!target.empty()) return target;
  }
  const std::string device = TableDeviceName(number);
  if (!device.empty()) return deviceRoot + "/" + device;
  SetWhy(why, portName + " stands for no device here (no alias " + ComName(number) + " in " +
                  PortAliasDirectory() + ")");
  return std::string();
}

std::string TableDeviceName(int number) {
  for (const TableRow& row : kTable) {
    if (number >= row.firstNumber && number < row.firstNumber + kRowLength) {
      return row.prefix + std::to_string(number - row.firstNumber);
    }
  }
  return std::string();
}

int ComNumberForDevice(std::string_view deviceName) {
  std::string_view name = deviceName;
  if (name.substr(0, 5) == "/dev/") name.remove_prefix(5);
  // No prefix of the table begins another, so at most one row matches.
  for (const TableRow& row : kTable) {
    const std::string_view prefix(row.prefix);
    if (name.substr(0, prefix.size()) != prefix) continue;
    const int index = ParseCanonicalNumber(name.substr(prefix.size()), kRowLength - 1);
    return index < 0 ? 0 : row.firstNumber + index;
  }
  return 0;
}

std::string PortAliasDirectory() {
  const std::string ports = Getenv("VELMORA_PORTS");
  if (!ports.empty()) return ports;
  const std::string runtime = Getenv("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime + "/velmora/ports";
  return "/tmp/velmora-" + std::to_string(::geteuid()) + "/ports";
}

std::vector<PortAlias> ListPortAliases() {
  std::vector<PortAlias> aliases;
  const std::string dir = UsableAliasDirectory();
  if (dir.empty()) return aliases;
  DIR* stream = ::opendir(dir.c_str());
  if (!stream) return aliases;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    const int number = ComNumber(name);
    // Only the upper-case names that RegisterPortAlias writes and lookup reads.
    if (number == 0 || name != ComName(number)) continue;
    std::string target = ReadAlias(dir, name);
    if (!target.empty()) aliases.push_back({number, std::move(target)});
  }
  ::closedir(stream);
  std::sort(aliases.begin(), aliases.end(),
            [](const PortAlias& a, const PortAlias& b) { return a.number < b.number; });
  return aliases;
}

bool RegisterPortAlias(int number, const std::string& target, std::string* why) {
  std::string reason;
  const std::string name = ComName(number);
  if (name.empty()) {
    SetWhy(why, "no alias for COM" + std::to_string(number) + ": ports are COM1 to COM256");
    return false;
  }
  if (target.empty() || target[0] != '/') {
    SetWhy(why, "an alias must name an absolute device path, not \"" + target + "\"");
    return false;
  }
  const std::string dir = PortAliasDirectory();
  bool exists = false;
  if (!DirectoryIsSafe(dir, &exists, &reason)) {
    if (exists) {
      SetWhy(why, "cannot use the port aliases in " + dir + ": " + reason);
      return false;
    }
    if (!MakeDirectories(dir, &reason) || !DirectoryIsSafe(dir, &exists, &reason)) {
      SetWhy(why, reason);
      return false;
    }
  }
  // A new link under a temporary name, then renamed over the old one, so a
  // reader sees either the old alias or the new one.
  const std::string link = dir + "/" + name;
  const std::string temporary = link + ".new" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) {
    SetWhy(why, "cannot create " + temporary + ": " + ErrnoText(errno));
    return false;
  }
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    SetWhy(why, "cannot create " + link + ": " + ErrnoText(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool RemovePortAlias(int number, std::string* why) {
  const std::string name = ComName(number);
  if (name.empty()) return true;
  const std::string link = PortAliasDirectory() + "/" + name;
  if (::unlink(link.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
    SetWhy(why, "cannot remove " + link + ": " + ErrnoText(errno));
    return false;
  }
  return true;
}
