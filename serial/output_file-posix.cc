// Opening a trace or log file on POSIX: looked at with lstat() first, opened
// without following a link and without blocking, and checked again on the
// descriptor, so that a file swapped in between is refused too.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "serial/output_file.h"

namespace {

// Why a file of this kind is refused; empty for a regular file.
std::string KindReason(mode_t mode) {
  if (S_ISREG(mode)) return "";
  if (S_ISLNK(mode)) return "it is a symbolic link";
  if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISDIR(mode)) return "it is a directory";
  return "it is not a regular file";
}

}  // namespace

int OpenOutputFile(const std::string& path, OutputMode mode, std::string* why) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    *why = KindReason(st.st_mode);
    if (why->empty() && mode == OutputMode::kNew) *why = "it already exists";
    if (!why->empty()) return -1;
  } else if (errno != ENOENT) {
    *why = std::strerror(errno);
    return -1;
  }
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (mode == OutputMode::kNew) flags |= O_EXCL;
  if (mode == OutputMode::kAppend) flags |= O_APPEND;
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    const int error = errno;
    // Something else took the name since it was looked at.
    if (error == EEXIST) {
      *why = "it already exists";
    } else if (::lstat(path.c_str(), &st) == 0 && !KindReason(st.st_mode).empty()) {
      *why = KindReason(st.st_mode);
    } else {
      *why = std::strerror(error);
    }
    return -1;
  }
  const auto fail = [fd, why](std::string text) {
    ::close(fd);
    *why = std::move(text);
    return -1;
  };
  if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail(KindReason(st.st_mode));
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
    return fail(std::strerror(errno));
  if (mode == OutputMode::kReplace && ::ftruncate(fd, 0) != 0) return fail(std::strerror(errno));
  return fd;
}
