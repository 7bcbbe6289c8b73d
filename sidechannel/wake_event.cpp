// SPDX-License-Identifier: GPL-2.0-or-later
#include "wake_event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace lumora {

namespace {

// Descriptors 3 and 4 of a filter are the CUPS back and side channels, and
// they may be closed when the program starts (then the next descriptor made
// would take their number): an event is kept above them.
constexpr int kLowestEventFd = 10;
constexpr int kMaxWakeFds = 4;

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

void WakeEvent::Raise() const { RaiseWakeFd(fd_); }

void RaiseWakeFd(int fd) {
  if (fd < 0) return;
  const uint64_t one = 1;
  ssize_t ignored = write(fd, &one, sizeof(one));
  (void)ignored;
}

int WaitFdOrWake(int fd, short events, int timeoutMs, std::initializer_list<int> wakeFds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  pollfd fds[1 + kMaxWakeFds] = {};
  fds[0] = {fd, events, 0};
  nfds_t n = 1;
  for (int wake : wakeFds) {
    if (wake >= 0 && n < 1 + kMaxWakeFds) fds[n++] = {wake, POLLIN, 0};
  }
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    int ready = poll(fds, n, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return 0;
    for (nfds_t i = 1; i < n; ++i)
      if (fds[i].revents != 0) return -1;
    return 1;
  }
}

}  // namespace lumora
