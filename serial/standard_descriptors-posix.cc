// Closed standard descriptors opened on /dev/null.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "serial/standard_descriptors.h"

void EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, since those below it are open.
    const int null = ::open("/dev/null", O_RDWR);
    if (null == fd) continue;
    if (null < 0 || ::dup2(null, fd) != fd) ::_exit(127);
    ::close(null);
  }
}
