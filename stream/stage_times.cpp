// SPDX-License-Identifier: GPL-2.0-or-later
#include "stage_times.h"

#include <time.h>

#include <cstdlib>
#include <cstring>

namespace lumora {

StageTimes::StageTimes() {
  const char* v = getenv("LUMORA_STAGE_TIMES");
  enabled_ = v != nullptr && strcmp(v, "1") == 0;
}

uint64_t StageTimes::ClockNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void StageTimes::ReportPage(int page, LogOutput& log) {
  if (!enabled_) return;
  Logf(log,
       "DEBUG: stage times page %d read=%llu turn=%llu screen=%llu compress=%llu "
       "write=%llu\n",
       page, static_cast<unsigned long long>(ns_[kStageRead]),
       static_cast<unsigned long long>(ns_[kStageTurn]),
       static_cast<unsigned long long>(ns_[kStageScreen]),
       static_cast<unsigned long long>(ns_[kStageCompress]),
       static_cast<unsigned long long>(ns_[kStageWrite]));
  memset(ns_, 0, sizeof(ns_));
}

}  // namespace lumora
