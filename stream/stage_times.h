// SPDX-License-Identifier: GPL-2.0-or-later
// Opt-in timing of the raster job's stages. With LUMORA_STAGE_TIMES=1 in the
// environment the job logs one line per page:
//   DEBUG: stage times page N read=NS turn=NS screen=NS compress=NS write=NS
// (nanoseconds of wall-clock time). Without it the timers cost one branch.
#pragma once

#include <cstdint>

#include "byte_output.h"

namespace lumora {

enum StageId : int { kStageRead, kStageTurn, kStageScreen, kStageCompress, kStageWrite, kStageCount };

// The stage times of one job's current page.
class StageTimes {
 public:
  StageTimes();  // on when LUMORA_STAGE_TIMES is "1"
  bool enabled() const { return enabled_; }
  // Monotonic clock in nanoseconds.
  static uint64_t ClockNs();
  void Add(StageId stage, uint64_t ns) { ns_[stage] += ns; }
  uint64_t Total(StageId stage) const { return ns_[stage]; }
  // Logs the page's line and starts the next page from zero.
  void ReportPage(int page, LogOutput& log);

 private:
  bool enabled_;
  uint64_t ns_[kStageCount] = {};
};

// Times a scope into a stage when the report is on.
class StageTimer {
 public:
  StageTimer(StageTimes& times, StageId stage)
      : times_(times), stage_(stage), start_(times.enabled() ? StageTimes::ClockNs() : 0) {}
  ~StageTimer() {
    if (start_ != 0) times_.Add(stage_, StageTimes::ClockNs() - start_);
  }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  StageTimes& times_;
  StageId stage_;
  uint64_t start_;
};

}  // namespace lumora
