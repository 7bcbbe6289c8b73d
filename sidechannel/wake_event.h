// SPDX-License-Identifier: GPL-2.0-or-later
// A flag that poll() can wait on: raised once, it stays raised until it is
// cleared, and every wait on its descriptor ends at once. Raising it is a
// single write(), so a signal handler may do it.
#pragma once

#include <initializer_list>

namespace lumora {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  void Raise() const;
  // Polls readable once raised; -1 when no descriptor could be made (poll()
  // then ignores it and waits end only by their time-outs).
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Raises the event behind a WakeEvent's descriptor (a signal handler's way).
void RaiseWakeFd(int fd);

// Waits up to timeoutMs milliseconds (negative: no limit) until `fd` polls
// with one of `events` or one of the wake descriptors polls readable
// (negative ones are left out, and so is a negative fd). Returns 1 when fd
// is ready, 0 on time-out, -1 when a wake descriptor ended the wait.
int WaitFdOrWake(int fd, short events, int timeoutMs, std::initializer_list<int> wakeFds);

}  // namespace lumora
