// One step of a command sequence: send the bytes and, when the sink refuses
// them, put the step's failure line in front of prntLastError.
#pragma once

#include <cstddef>

#include "job_state.h"
#include "output_sink.h"

inline bool SendStep(const void* data, size_t len, const char* failure, int toSideFiles = 1) {
  if (SendDataToFile(data, len, toSideFiles) != 0) return true;
  PrependLastError(failure);
  return false;
}

inline bool IsKnownPlatform(int platform) {
  return platform == 1 || platform == 2 || platform == 3;
}
