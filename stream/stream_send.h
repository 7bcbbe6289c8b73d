// SPDX-License-Identifier: GPL-2.0-or-later
// One step of a command sequence: send the bytes and, when the sink refuses
// them, put the step's failure line in front of the failure text.
#pragma once

#include <cstddef>

#include "command_stream.h"

inline bool SendStep(CommandStream& job, const void* data, size_t len, const char* failure,
                     int toSideFiles = 1) {
  if (SendDataToFile(job, data, len, toSideFiles) != 0) return true;
  job.lastError.Prepend(failure);
  return false;
}

inline bool IsKnownPlatform(int platform) {
  return platform == 1 || platform == 2 || platform == 3;
}
