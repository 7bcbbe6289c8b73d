// SPDX-License-Identifier: GPL-2.0-or-later
#include "job_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace lumora {

FdCloser::~FdCloser() {
  if (fd >= 0) close(fd);
}

bool WriteAll(int fd, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking output (see CancellableOutput) that is full.
      pollfd room = {fd, POLLOUT, 0};
      poll(&room, 1, -1);
      continue;
    }
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace lumora
