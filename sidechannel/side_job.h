// SPDX-License-Identifier: GPL-2.0-or-later
// What one print job shares with the threads that talk to its printer beside
// the print path: the job's cancel flag, the event that ends the job's waits
// once it is cancelled, the job's log and the threads' pauses. Each job has
// its own; nothing here is shared between jobs.
#pragma once

#include <atomic>
#include <functional>

#include "byte_output.h"
#include "side_timing.h"
#include "wake_event.h"

namespace lumora {

class SideJob {
 public:
  // outsideCancel: polled as well (a filter's SIGTERM flag, an application's
  // cancel state); outsideWakeFd: a descriptor that polls readable once that
  // cancel came (the filter's SIGTERM handler writes to it), or -1.
  SideJob(LogOutput& log, SideTimings timings = {},
          std::function<bool()> outsideCancel = {}, int outsideWakeFd = -1);
  SideJob(const SideJob&) = delete;
  SideJob& operator=(const SideJob&) = delete;

  // The job is cancelled (its job_canceled flag): goes from false to true
  // once, from any thread.
  bool Cancelled() const;
  // Cancels the job; every wait of the job ends at once.
  void Cancel();

  // Waits up to timeoutMs (negative: no limit) for fd (negative: none) to
  // poll with events, ending early when the job is cancelled or `also` is
  // raised. 1: fd ready; 0: time-out; -1: cancelled or raised.
  int Wait(int fd, short events, int timeoutMs, const WakeEvent* also = nullptr) const;

  // Descriptors that poll readable once the job is cancelled (-1: none),
  // for waits of the job's own making.
  int CancelFd() const { return canceledEvent_.fd(); }
  int OutsideWakeFd() const { return outsideWakeFd_; }

  LogOutput& log() const { return log_; }
  const SideTimings& timings() const { return timings_; }

 private:
  LogOutput& log_;
  SideTimings timings_;
  std::function<bool()> outsideCancel_;
  int outsideWakeFd_;
  mutable std::atomic<int> canceled_{0};
  WakeEvent canceledEvent_;
};

}  // namespace lumora
