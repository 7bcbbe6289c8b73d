// SPDX-License-Identifier: GPL-2.0-or-later
#include "side_log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace lumora {

namespace {

std::string Format(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[512];
  const int n = vsnprintf(small, sizeof(small), format, args);
  std::string text;
  if (n < 0) {
    va_end(again);
    return text;
  }
  if (static_cast<size_t>(n) < sizeof(small)) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    vsnprintf(big.data(), big.size(), format, again);
    text.assign(big.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

}  // namespace

void LogLines(LogOutput& log, const char* level, const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      std::string line = level;
      line.append(text, start, end - start);
      line += '\n';
      log.Line(line.c_str());
    }
    start = end + 1;
  }
}

void Debugf(LogOutput& log, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  LogLines(log, "DEBUG: ", text);
}

void Levelf(LogOutput& log, const char* level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  LogLines(log, level, text);
}

}  // namespace lumora
