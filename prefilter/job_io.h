// SPDX-License-Identifier: GPL-2.0-or-later
// Small RAII helpers shared by the pre-filter's modules: descriptors, full
// writes and the queue's PPD.
#pragma once

#include <cups/ppd.h>

#include <cstddef>
#include <memory>

// Closes a descriptor when it goes out of scope (nothing for -1).
struct FdCloser {
  int fd;
  ~FdCloser();
};

// Writes all of data to fd, retrying after signals and waiting for room on
// a non-blocking descriptor; false on error.
bool WriteAll(int fd, const void* data, size_t len);

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

// The queue's PPD (environment variable PPD); null when unset or unreadable.
PpdPtr OpenJobPpd();
