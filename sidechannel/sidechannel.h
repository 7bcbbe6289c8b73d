// SPDX-License-Identifier: GPL-2.0-or-later
// The pre-filter's direct line to the printer, beside the print path:
// finding the device from its URI (USB or network), the keep-alive thread
// of the PDF road and the cancel/status query thread of the PostScript road.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

// The job was cancelled (SIGTERM, or the printer reported it cancelled).
// Goes from 0 to 1 once; set from a signal handler and from threads.
extern std::atomic<int> job_canceled;

class WakeEvent;
// Cancels the job: sets job_canceled and raises JobCanceledEvent(), so
// that waits on the printer or on a full output end at once. Safe in a
// signal handler.
void SetJobCanceled();
// Raised once the job is cancelled through SetJobCanceled.
const WakeEvent& JobCanceledEvent();
// Back to a job not cancelled (tests that run many jobs in one process).
void ResetJobCanceled();

// Handed to the status query thread; must outlive it (lives for the process).
struct cancel_query_arg {
  char deviceUri[512];
  int32_t jobId;
  char jobOwner[512];
};

// Keep-alive thread (g_bdummyEnd, dummy_thread, Creatpthread, Waitpthread).
#include "keepalive_thread.h"
// Status query thread (status_thread, err_thread, Printer_cancle_query_tread).
#include "status_thread.h"
