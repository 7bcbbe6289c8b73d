// SPDX-License-Identifier: GPL-2.0-or-later
// Small helpers shared by the pre-filter's modules: descriptors and full
// writes.
#pragma once

#include <cstddef>

namespace lumora {

// Closes a descriptor when it goes out of scope (nothing for -1).
struct FdCloser {
  int fd;
  ~FdCloser();
};

// Writes all of data to fd, retrying after signals and waiting for room on
// a non-blocking descriptor; false on error.
bool WriteAll(int fd, const void* data, size_t len);

}  // namespace lumora
