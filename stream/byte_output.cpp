// SPDX-License-Identifier: GPL-2.0-or-later
#include "byte_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lumora {

bool WriteFully(int fd, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    const ssize_t n = write(fd, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool FdOutput::Write(const void* data, size_t len) { return WriteFully(fd_, data, len); }

void StderrLog::Line(const char* text) { WriteFully(2, text, strlen(text)); }

void Logf(LogOutput& log, const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  log.Line(line);
}

}  // namespace lumora
