// SPDX-License-Identifier: GPL-2.0-or-later
// Cancel and status query thread of the PostScript road: asks the printer
// (USB vendor request or SNMP GetRequest) for the state of its current job
// and cancels the job when the printer reports this host's job cancelled.
// The thread belongs to the job that starts it: it ends when the job is
// cancelled or the object goes, and is joined then.
#pragma once

#include <libusb.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "device_line.h"
#include "side_job.h"
#include "wake_event.h"

namespace lumora {

// Size of the reply buffers of both queries.
constexpr int kStatusReplySize = 1024;

// What the status thread is told of its job.
struct cancel_query_arg {
  char deviceUri[512];
  int32_t jobId;
  char jobOwner[512];
};

class StatusThread {
 public:
  // line: the application's way to the printer; empty: the device URI's.
  explicit StatusThread(SideJob& job, DeviceLineOpener line = {});
  // Stop().
  ~StatusThread();
  StatusThread(const StatusThread&) = delete;
  StatusThread& operator=(const StatusThread&) = delete;

  // Starts Printer_cancle_query_tread on a copy of the record; returns
  // pthread_create's result (err_thread).
  int Start(const cancel_query_arg& record);
  // Ends the thread's waits and joins it; safe when none runs.
  void Stop();
  // The thread is running (or ran and was not joined yet).
  bool Started() const { return started_; }

  SideJob& job;
  const DeviceLineOpener line;
  cancel_query_arg arg{};   // the thread's record; lives as long as the object
  pthread_t status_thread{};
  int err_thread = 0;
  const WakeEvent end;      // raised by Stop: the thread's waits end at once
  std::atomic<bool> ending{false};

 private:
  bool started_ = false;
};

// Thread body; block is the StatusThread.
void* Printer_cancle_query_tread(void* block);

// One vendor status read (0xC1, request 0) into `buffer` of `size` bytes.
// Returns 1 and stores the byte count in `count` when at least one byte came;
// else stores 0 and returns 0.
int QueryStatusToUsb(LogOutput& log, libusb_device_handle* handle, unsigned char* buffer,
                     int size, int* count);

// One SNMP status query to `host` (name or dotted IPv4 address) into
// `buffer` of kStatusReplySize bytes. Returns 1 and stores the reply length
// in `length` when a reply came, else 0 (also when the thread is told to end
// while it waits).
int QueryStatusToNet(const StatusThread& thread, const char* host, unsigned char* buffer,
                     int* length);

}  // namespace lumora
