// SPDX-License-Identifier: GPL-2.0-or-later
#include "wake_event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace {

// Descriptors 3 and 4 of a filter are the CUPS back and side channels, and
// they may be closed when the program starts (then the next descriptor made
// would take their number): an event is kept above them.
constexpr int kLowestEventFd = 10;

int MakeEventFd() {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0 || fd >= kLowestEventFd) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, kLowestEventFd);
  close(fd);
  return high;
}

}  // namespace

WakeEvent::WakeEvent() : fd_(MakeEventFd()) {}

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) close(fd_);
}

void WakeEvent::Raise() const {
  const uint64_t one = 1;
  ssize_t ignored = write(fd_, &one, sizeof(one));
  (void)ignored;
}

void WakeEvent::Clear() const {
  uint64_t count = 0;
  ssize_t ignored = read(fd_, &count, sizeof(count));
  (void)ignored;
}

int WaitFdOrWake(int fd, short events, int timeoutMs, const WakeEvent* a, const WakeEvent* b) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    pollfd fds[3] = {{fd, events, 0}, {a ? a->fd() : -1, POLLIN, 0}, {b ? b->fd() : -1, POLLIN, 0}};
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    int n = poll(fds, 3, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    if (fds[1].revents != 0 || fds[2].revents != 0) return -1;
    return 1;
  }
}
