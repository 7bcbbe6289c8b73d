// SPDX-License-Identifier: GPL-2.0-or-later
#include "duplex_wait.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app_strings.h"
#include "app_system.h"
#include "job_queue.h"

namespace lumora::app {

void DuplexWaits::Begin(pappl_printer_t* printer, int jobId, const std::string& prompt) {
  std::lock_guard<std::mutex> lock(mutex_);
  waits_[printer] = Wait{papplPrinterGetName(printer), jobId, prompt};
  SaveLocked();
}

void DuplexWaits::End(pappl_printer_t* printer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waits_.erase(printer) > 0) SaveLocked();
}

std::string DuplexWaits::Prompt(pappl_printer_t* printer) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = waits_.find(printer);
  return it == waits_.end() ? std::string() : it->second.prompt;
}

// One line a wait: printer name, job id, prompt, tab-separated. Written to
// a new file that then replaces the old one.
void DuplexWaits::SaveLocked() const {
  if (file_.empty()) return;
  std::string text;
  for (const auto& [printer, wait] : waits_) {
    text += wait.printer + "\t" + std::to_string(wait.jobId) + "\t" + wait.prompt + "\n";
  }
  const std::string temp = file_ + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), file_.c_str()) != 0) unlink(temp.c_str());
}

namespace {

struct FindByName {
  const std::string* name;
  pappl_printer_t* found;
};

void MatchName(pappl_printer_t* printer, void* data) {
  auto* find = static_cast<FindByName*>(data);
  if (*find->name == papplPrinterGetName(printer)) find->found = printer;
}

}  // namespace

void DuplexWaits::Restore(pappl_system_t* system) {
  std::ifstream in(file_);
  std::string line;
  std::map<pappl_printer_t*, Wait> found;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Wait wait;
    std::string id;
    if (!std::getline(fields, wait.printer, '\t') || !std::getline(fields, id, '\t') ||
        !std::getline(fields, wait.prompt)) {
      continue;
    }
    wait.jobId = atoi(id.c_str());
    FindByName find{&wait.printer, nullptr};
    papplSystemIteratePrinters(system, MatchName, &find);
    if (find.found) found[find.found] = wait;  // else the printer was deleted
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waits_ = found;
    SaveLocked();
  }
  // (The state event asks Prompt(): outside the lock.)
  for (const auto& [printer, wait] : found) {
    ShowWait(printer, papplPrinterFindJob(printer, wait.jobId), wait.prompt);
  }
}

std::string WaitText(pappl_system_t* system, const std::string& prompt) {
  return ServerText(system, prompt);
}

void ShowWait(pappl_printer_t* printer, pappl_job_t* job, const std::string& prompt) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  const std::string text = WaitText(system, prompt);
  papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
  papplSystemAddEvent(system, printer, job, PAPPL_EVENT_PRINTER_STATE_CHANGED, "%s",
                      text.c_str());
  if (job) SetJobMessage(job, "%s", text.c_str());
}

std::string WaitingStateMessage(pappl_printer_t* printer) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  AppContext* ctx = SystemContext(system);
  if (!ctx || !ctx->waits) return "";
  std::string prompt = ctx->waits->Prompt(printer);
  return prompt.empty() ? "" : WaitText(system, prompt);
}

}  // namespace lumora::app
