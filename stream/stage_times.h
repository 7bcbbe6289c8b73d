// Opt-in timing of the raster filter's stages. With LUMORA_STAGE_TIMES=1 in
// the environment the page loop writes one line per page on standard error:
//   DEBUG: stage times page N read=NS turn=NS screen=NS compress=NS write=NS
// (nanoseconds of wall-clock time). Without it the timers cost one branch.
#pragma once

#include <cstdint>

enum StageId { STAGE_READ, STAGE_TURN, STAGE_SCREEN, STAGE_COMPRESS, STAGE_WRITE, STAGE_COUNT };

// True when LUMORA_STAGE_TIMES asks for the report (read once).
bool StageTimesEnabled();
// Monotonic clock in nanoseconds.
uint64_t StageClockNs();
// Adds ns to a stage of the current page.
void StageAdd(StageId stage, uint64_t ns);
// Nanoseconds gathered so far for a stage of the current page.
uint64_t StageTotal(StageId stage);
// Writes the page's line and starts the next page from zero.
void StageReportPage(int page);

// Times a scope into a stage when the report is on.
class StageTimer {
 public:
  explicit StageTimer(StageId stage)
      : stage_(stage), start_(StageTimesEnabled() ? StageClockNs() : 0) {}
  ~StageTimer() {
    if (start_ != 0) StageAdd(stage_, StageClockNs() - start_);
  }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  StageId stage_;
  uint64_t start_;
};
