// SPDX-License-Identifier: GPL-2.0-or-later
// Log lines of the pre-filter and its side channel: every line that reaches
// the scheduler carries a level. The driver's own trace messages are DEBUG
// lines; a text of several lines becomes one line per line of text.
#pragma once

#include <string>

#include "byte_output.h"

namespace lumora {

// Each non-empty line of text as "LEVEL" + line + "\n" (level with its
// colon and blank, such as "DEBUG: ").
void LogLines(LogOutput& log, const char* level, const std::string& text);

// printf into DEBUG lines (any length).
void Debugf(LogOutput& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
// printf into lines of the given level (any length).
void Levelf(LogOutput& log, const char* level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace lumora
