// SPDX-License-Identifier: GPL-2.0-or-later
// A flag that poll() can wait on: raised once, it stays raised until it is
// cleared, and every wait on its descriptor ends at once. Raising it is a
// single write(), so a signal handler may do it.
#pragma once

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  void Raise() const;
  // Back to not raised (a test that runs several jobs in one process).
  void Clear() const;
  // Polls readable once raised; -1 when no descriptor could be made (poll()
  // then ignores it and waits end only by their time-outs).
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Waits up to timeoutMs milliseconds (negative: no limit) until `fd` polls
// with one of `events` or one of the two wake events is raised (either may
// be null; a negative fd is not waited for). Returns 1 when fd is ready, 0
// on time-out, -1 when a wake event ended the wait.
int WaitFdOrWake(int fd, short events, int timeoutMs, const WakeEvent* a, const WakeEvent* b);
