// SPDX-License-Identifier: GPL-2.0-or-later
// Flags shared by the pre-filter's copy loops, its SIGTERM handler and the
// device threads.
#include "sidechannel.h"
#include "wake_event.h"

std::atomic<int> job_canceled{0};

namespace {

// Made before main, so the signal handler never creates it.
const WakeEvent gJobCanceledEvent;

}  // namespace

void SetJobCanceled() {
  job_canceled = 1;
  gJobCanceledEvent.Raise();
}

const WakeEvent& JobCanceledEvent() { return gJobCanceledEvent; }

void ResetJobCanceled() {
  job_canceled = 0;
  gJobCanceledEvent.Clear();
}
