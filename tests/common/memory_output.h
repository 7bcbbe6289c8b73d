// SPDX-License-Identifier: GPL-2.0-or-later
// A job's printer and log kept in memory, for the tests that drive a job
// without a filter process around it.
#pragma once

#include <cstdint>
#include <string>

#include "byte_output.h"

namespace lumora::test {

// Keeps what it is given; once its budget of bytes is spent, fails every
// write, as a printer connection that drops in the middle of a job.
class MemoryDevice : public lumora::ByteOutput {
 public:
  bool Write(const void* data, size_t len) override {
    if (len > budget) {
      budget = 0;
      return false;
    }
    budget -= len;
    bytes.append(static_cast<const char*>(data), len);
    return true;
  }
  std::string bytes;
  size_t budget = SIZE_MAX;
};

// Keeps the job's log lines, one after the other.
class MemoryLog : public lumora::LogOutput {
 public:
  void Line(const char* text) override { lines += text; }
  std::string lines;
};

}  // namespace lumora::test
