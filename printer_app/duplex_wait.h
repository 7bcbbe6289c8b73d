// SPDX-License-Identifier: GPL-2.0-or-later
// The printers that wait for the user to turn a manual-duplex stack over.
// The job stream has gone out when the fronts are printed; the printer
// then waits, with no way to tell the server when the stack is back. So a
// printer waits from its job's prompt until its next job starts, and the
// wait is kept in a small file beside the state file, so that a restarted
// server shows it again (printer state, the job's message).
#pragma once

#include <pappl/pappl.h>

#include <map>
#include <mutex>
#include <string>

namespace lumora::app {

class DuplexWaits {
 public:
  // file: where the waits are kept ("" keeps them in memory only).
  explicit DuplexWaits(std::string file) : file_(std::move(file)) {}

  // The printer waits for the stack of this job; prompt: the PPD's text.
  void Begin(pappl_printer_t* printer, int jobId, const std::string& prompt);
  // A new job starts: the printer no longer waits.
  void End(pappl_printer_t* printer);
  // The prompt (the PPD's text) the printer waits with, or "".
  std::string Prompt(pappl_printer_t* printer) const;
  // After the state is loaded: each printer that waited shows the wait
  // again (media-needed, its job's message).
  void Restore(pappl_system_t* system);

 private:
  struct Wait {
    std::string printer;  // the printer's name (pointers change on restart)
    int jobId = 0;
    std::string prompt;
  };
  void SaveLocked() const;

  std::string file_;
  mutable std::mutex mutex_;
  std::map<pappl_printer_t*, Wait> waits_;
};

// The prompt in the server's language, as the printer and its job show it.
std::string WaitText(pappl_system_t* system, const std::string& prompt);

// Shows the wait: the printer's state reason media-needed, the state-change
// event, the job's message (when the job is given).
void ShowWait(pappl_printer_t* printer, pappl_job_t* job, const std::string& prompt);

// printer-state-message of a waiting printer: the prompt in the server's
// language, or "" when the printer does not wait.
std::string WaitingStateMessage(pappl_printer_t* printer);

}  // namespace lumora::app
