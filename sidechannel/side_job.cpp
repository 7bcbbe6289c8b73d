// SPDX-License-Identifier: GPL-2.0-or-later
#include "side_job.h"

#include <utility>

namespace lumora {

SideJob::SideJob(LogOutput& log, SideTimings timings, std::function<bool()> outsideCancel,
                 int outsideWakeFd)
    : log_(log), timings_(timings), outsideCancel_(std::move(outsideCancel)),
      outsideWakeFd_(outsideWakeFd) {}

bool SideJob::Cancelled() const {
  if (canceled_.load() != 0) return true;
  if (!outsideCancel_ || !outsideCancel_()) return false;
  if (canceled_.exchange(1) == 0) canceledEvent_.Raise();
  return true;
}

void SideJob::Cancel() {
  if (canceled_.exchange(1) == 0) canceledEvent_.Raise();
}

int SideJob::Wait(int fd, short events, int timeoutMs, const WakeEvent* also) const {
  if (Cancelled()) return -1;
  const int r = WaitFdOrWake(fd, events, timeoutMs,
                             {canceledEvent_.fd(), outsideWakeFd_, also ? also->fd() : -1});
  if (r == -1 && !Cancelled() && also == nullptr) return 0;
  return r;
}

}  // namespace lumora
