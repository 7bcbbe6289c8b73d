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

#include "ps_job_state.h"

namespace lumora {

namespace {

bool SameFile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

CancellableOutput::CancellableOutput(PsJobState& job)
    : job_(job), fd_(job.deviceFd), piece_(SIZE_MAX) {
  struct stat st;
  if (fd_ < 0) return;
  const int fd = fd_;
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
  job_.side.Wait(fd_, POLLOUT, -1);
}

// Hands len bytes over with transfer(done, piece), which returns what went
// (0: nothing more to send), or -1 with errno.
template <typename Transfer>
size_t CancellableOutput::Pump(size_t len, Transfer transfer) {
  size_t done = 0;
  error_ = 0;
  while (done < len && !job_.Cancelled()) {
    if (waitFirst_) {
      WaitForRoom();
      if (job_.Cancelled()) break;
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
  if (fd_ < 0) {
    error_ = 0;
    if (len == 0 || job_.Cancelled()) return 0;
    if (job_.device.Write(data, len)) return len;
    error_ = EIO;
    job_.outputFailed = true;
    return 0;
  }
  const size_t done = Pump(len, [&](size_t at, size_t piece) -> ssize_t {
    ssize_t n = write(fd_, data + at, piece);
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    return n;
  });
  if (error_ != 0) job_.outputFailed = true;
  return done;
}

size_t CancellableOutput::SendFile(int inFd, off_t* offset, size_t count) {
  if (fd_ < 0) {
    error_ = EINVAL;  // the block loop copies the file
    return 0;
  }
  return Pump(count, [&](size_t, size_t piece) { return sendfile(fd_, inFd, offset, piece); });
}

}  // namespace lumora
