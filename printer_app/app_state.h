// SPDX-License-Identifier: GPL-2.0-or-later
// The server's state file, written so that a crash, a kill or a full disk
// during a save never leaves less than the last whole state: PAPPL 1.3.1
// writes the file in place, truncated first. Here the state goes to a new
// file beside it, which is flushed to the disk and then renamed over the
// old one.
#pragma once

#include <pappl/pappl.h>

#include <ctime>
#include <string>
#include <vector>

namespace lumora::app {

// Saves the system's state to path; false (and the old file kept) when
// the new one cannot be written whole.
bool SaveStateFile(pappl_system_t* system, const std::string& path);

// Removes the new files a save that did not finish left beside path (call
// before the server loads its state).
void RemoveUnfinishedStates(const std::string& path);

// A job of the state file that cannot print again, and why.
struct EndedJob {
  int printerId;
  int jobId;
  std::string why;
};

// Before the server loads its state (PAPPL 1.3.x's file): PAPPL would
// show a job that was printing when the server stopped as printing for
// ever, and drop without a word one whose document is gone (one that
// waited for its document, or whose file was removed). Such jobs are
// written as aborted at `now`, "aborted-by-system"; the file is replaced
// whole. Returns them with their reasons.
std::vector<EndedJob> EndInterruptedJobs(const std::string& path, time_t now);

}  // namespace lumora::app
