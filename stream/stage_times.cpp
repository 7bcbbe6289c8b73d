#include "stage_times.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

uint64_t gStageNs[STAGE_COUNT] = {};

}  // namespace

bool StageTimesEnabled() {
  static const bool enabled = [] {
    const char* v = getenv("LUMORA_STAGE_TIMES");
    return v != nullptr && strcmp(v, "1") == 0;
  }();
  return enabled;
}

uint64_t StageClockNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void StageAdd(StageId stage, uint64_t ns) { gStageNs[stage] += ns; }

uint64_t StageTotal(StageId stage) { return gStageNs[stage]; }

void StageReportPage(int page) {
  if (!StageTimesEnabled()) return;
  fprintf(stderr,
          "DEBUG: stage times page %d read=%llu turn=%llu screen=%llu compress=%llu write=%llu\n",
          page, static_cast<unsigned long long>(gStageNs[STAGE_READ]),
          static_cast<unsigned long long>(gStageNs[STAGE_TURN]),
          static_cast<unsigned long long>(gStageNs[STAGE_SCREEN]),
          static_cast<unsigned long long>(gStageNs[STAGE_COMPRESS]),
          static_cast<unsigned long long>(gStageNs[STAGE_WRITE]));
  memset(gStageNs, 0, sizeof(gStageNs));
}
