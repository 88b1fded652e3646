// Image files on POSIX: opened without blocking (a FIFO with no writer, a
// terminal), then taken only when fstat says regular file.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <new>

#include "engine/image_file.h"

namespace {

// Reads up to `count` bytes, retrying after signals and short reads; the
// number read, which is less than `count` only at the end of the file or on
// an error.
size_t ReadFully(int fd, uint8_t* into, size_t count) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, into + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

ImageFileStatus ReadOpenFile(int fd, std::unique_ptr<uint8_t[]>* data, int32_t* length) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return ImageFileStatus::kUnreadable;
  if (S_ISDIR(st.st_mode)) return ImageFileStatus::kNotFound;
  if (!S_ISREG(st.st_mode) || st.st_size < 0) return ImageFileStatus::kUnreadable;
  if (st.st_size > std::numeric_limits<int32_t>::max()) return ImageFileStatus::kTooLarge;
  const auto size = static_cast<size_t>(st.st_size);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
  if (!buffer) return ImageFileStatus::kTooLarge;
  // Exactly its length, and then nothing more.
  uint8_t beyond;
  if (ReadFully(fd, buffer.get(), size) != size || ReadFully(fd, &beyond, 1) != 0)
    return ImageFileStatus::kUnreadable;
  *data = std::move(buffer);
  *length = static_cast<int32_t>(size);
  return ImageFileStatus::kRead;
}

}  // namespace

ImageFileStatus ReadImageFile(const char* path, std::unique_ptr<uint8_t[]>* data, int32_t* length) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return ImageFileStatus::kNotFound;
  const ImageFileStatus status = ReadOpenFile(fd, data, length);
  ::close(fd);
  return status;
}
