// SPDX-License-Identifier: GPL-2.0-or-later
#include "cancellable_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "prefilter_state.h"
#include "sidechannel.h"
#include "wake_event.h"

namespace {

bool SameFile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

CancellableOutput::CancellableOutput(int fd) : fd_(fd), piece_(SIZE_MAX) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) return;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_NONBLOCK)) return;
  // Non-blocking writes would make the log lines fail as well.
  if (SameFile(fd, 2) || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    waitFirst_ = true;
    piece_ = PIPE_BUF;
    return;
  }
  savedFlags_ = flags;
}

CancellableOutput::~CancellableOutput() {
  if (savedFlags_ >= 0) fcntl(fd_, F_SETFL, savedFlags_);
}

void CancellableOutput::WaitForRoom() const {
  WaitFdOrWake(fd_, POLLOUT, -1, &JobCanceledEvent(), nullptr);
}

// Hands len bytes over with transfer(done, piece), which returns what went
// (0: nothing more to send), or -1 with errno.
template <typename Transfer>
size_t CancellableOutput::Pump(size_t len, Transfer transfer) {
  size_t done = 0;
  error_ = 0;
  while (done < len && !job_canceled) {
    if (waitFirst_) {
      WaitForRoom();
      if (job_canceled) break;
    }
    const size_t piece = std::min(len - done, piece_);
    const ssize_t n = transfer(done, piece);
    if (n > 0) {
      done += static_cast<size_t>(n);
      // A non-blocking write that took part of the piece found the output
      // full: the next one would only fail.
      if (savedFlags_ >= 0 && static_cast<size_t>(n) < piece) WaitForRoom();
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitForRoom();
    } else if (errno != EINTR) {
      error_ = errno;
      break;
    }
  }
  return done;
}

size_t CancellableOutput::Write(const char* data, size_t len) {
  const size_t done = Pump(len, [&](size_t at, size_t piece) -> ssize_t {
    ssize_t n = write(fd_, data + at, piece);
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    return n;
  });
  if (error_ != 0) gOutputFailed = true;
  return done;
}

size_t CancellableOutput::SendFile(int in_fd, off_t* offset, size_t count) {
  return Pump(count, [&](size_t, size_t piece) { return sendfile(fd_, in_fd, offset, piece); });
}
