// SPDX-License-Identifier: GPL-2.0-or-later
// Where a job's bytes go (the printer) and where its log lines go (the
// scheduler's log, or a printer application's). Both are handed to a job;
// nothing here is shared between jobs.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace lumora {

// The printer. Write takes all bytes or fails.
class ByteOutput {
 public:
  virtual ~ByteOutput() = default;
  // Writes all len bytes, across interruptions and short writes; false
  // once the device cannot take them (gone, or the disk under it full).
  virtual bool Write(const void* data, size_t len) = 0;
};

// Writes to a file descriptor with write(2), riding over EINTR and short
// writes, so a signal never cuts a record.
class FdOutput : public ByteOutput {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  bool Write(const void* data, size_t len) override;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Writes all len bytes to fd (EINTR and short writes retried).
bool WriteFully(int fd, const void* data, size_t len);

// Whole log lines in the scheduler's format ("DEBUG: ...\n", "INFO: ...\n",
// "PAGE: ...\n", "ERROR: ...\n", and the few plain lines of the driver).
class LogOutput {
 public:
  virtual ~LogOutput() = default;
  virtual void Line(const char* text) = 0;
};

// Standard error, one write per line (the filter's log).
class StderrLog : public LogOutput {
 public:
  void Line(const char* text) override;
};

// printf into a log line (cut at 4 KiB).
void Logf(LogOutput& log, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace lumora
