// SPDX-License-Identifier: GPL-2.0-or-later
// The server's state file, written so that a crash, a kill or a full disk
// during a save never leaves less than the last whole state: PAPPL 1.3.1
// writes the file in place, truncated first. Here the state goes to a new
// file beside it, which is flushed to the disk and then renamed over the
// old one.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora_app {

// Saves the system's state to path; false (and the old file kept) when
// the new one cannot be written whole.
bool SaveStateFile(pappl_system_t* system, const std::string& path);

// Removes the new files a save that did not finish left beside path (call
// before the server loads its state).
void RemoveUnfinishedStates(const std::string& path);

}  // namespace lumora_app
