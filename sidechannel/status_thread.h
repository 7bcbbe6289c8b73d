// SPDX-License-Identifier: GPL-2.0-or-later
// Cancel and status query thread of the PostScript road: asks the printer
// (USB vendor request or SNMP GetRequest) for the state of its current job
// and sets job_canceled when the printer reports this host's job cancelled.
#pragma once

#include <libusb.h>
#include <pthread.h>

#include <cstddef>

// The thread's handle (0 when its creation failed) and its start result.
extern pthread_t status_thread;
extern int err_thread;

// Size of the reply buffers of both queries.
constexpr int kStatusReplySize = 1024;

// Thread body; `block` is the process-lifetime cancel_query_arg.
void* Printer_cancle_query_tread(void* block);

// One vendor status read (0xC1, request 0) into `buffer` of `size` bytes.
// Returns 1 and stores the byte count in `count` when at least one byte came;
// else stores 0 and returns 0.
int QueryStatusToUsb(libusb_device_handle* handle, unsigned char* buffer, int size, int* count);

// One SNMP status query to `host` (name or dotted IPv4 address) into
// `buffer` of kStatusReplySize bytes. Returns 1 and stores the reply length
// in `length` when a reply came, else 0.
int QueryStatusToNet(const char* host, unsigned char* buffer, int* length);
