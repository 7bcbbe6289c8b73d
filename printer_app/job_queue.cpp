// SPDX-License-Identifier: GPL-2.0-or-later
#include "job_queue.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app_system.h"

#if LUMORA_PAPPL_PRIVATE
// PAPPL 1.3.1's look for a job to start (the server's own definition runs,
// see pappl_hooks.cpp).
extern "C" void _papplPrinterCheckJobs(pappl_printer_t* printer);
#endif

namespace lumora::app {

namespace {

constexpr const char* kQueuedMessage = "Waiting for the jobs sent before it.";

AppContext* ContextOf(pappl_printer_t* printer) {
  return printer ? SystemContext(papplPrinterGetSystem(printer)) : nullptr;
}

bool UserHold(pappl_job_t* job) {
  return (papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) != 0;
}

// The printers' ids.
std::vector<int> PrinterIds(pappl_system_t* system) {
  std::vector<int> ids;
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t* printer, void* data) {
        static_cast<std::vector<int>*>(data)->push_back(papplPrinterGetID(printer));
      },
      &ids);
  return ids;
}

pappl_printer_t* FindPrinter(pappl_system_t* system, int id) {
  return papplSystemFindPrinter(system, nullptr, id, nullptr);
}

void ReplaceText(ipp_t* attrs, ipp_tag_t group, const char* name, ipp_tag_t tag,
                 const char* value) {
  ipp_attribute_t* attr = ippFindAttribute(attrs, name, IPP_TAG_ZERO);
  if (!attr) return;  // not asked for
  ippDeleteAttribute(attrs, attr);
  ippAddString(attrs, group, tag, name, nullptr, value);
}

// The jobs of a printer that wait for a document past the time-out.
struct Expired {
  int timeout;
  time_t now;
  std::vector<int> jobs;
};

void FindExpired(pappl_job_t* job, void* data) {
  auto* e = static_cast<Expired*>(data);
  if (papplJobGetState(job) == IPP_JSTATE_HELD && !papplJobGetFilename(job) &&
      papplJobGetTimeCreated(job) + e->timeout <= e->now) {
    e->jobs.push_back(papplJobGetID(job));
  }
}

}  // namespace

QueuePlan PlanQueue(std::vector<QueueEntry> jobs) {
  QueuePlan plan;
  std::vector<QueueEntry> waiting;
  for (const QueueEntry& j : jobs) {
    if (j.state == IPP_JSTATE_PENDING || (j.state == IPP_JSTATE_HELD && j.queued && !j.userHold)) {
      waiting.push_back(j);
    }
  }
  if (waiting.empty()) return plan;
  std::sort(waiting.begin(), waiting.end(),
            [](const QueueEntry& a, const QueueEntry& b) { return a.id < b.id; });
  if (waiting.front().state == IPP_JSTATE_HELD) plan.release = waiting.front().id;
  for (size_t i = 1; i < waiting.size(); i++) {
    if (waiting[i].state == IPP_JSTATE_PENDING) plan.hold.push_back(waiting[i].id);
  }
  return plan;
}

bool OrderQueue(pappl_printer_t* printer) {
  AppContext* ctx = ContextOf(printer);
  if (!ctx) return false;
  std::lock_guard<std::mutex> serial(ctx->jobs.OrderMutex());
  struct Scan {
    JobRecords* records;
    int printer;
    std::vector<QueueEntry> entries;
    std::vector<int> held;
  } scan{&ctx->jobs, papplPrinterGetID(printer), {}, {}};
  papplPrinterIterateActiveJobs(
      printer,
      [](pappl_job_t* job, void* data) {
        auto* s = static_cast<Scan*>(data);
        const int id = papplJobGetID(job);
        const ipp_jstate_t state = papplJobGetState(job);
        const bool userHold = UserHold(job);
        const bool queued = state == IPP_JSTATE_HELD && !userHold && s->records->Queued(s->printer, id);
        if (queued) s->held.push_back(id);
        s->entries.push_back({id, state, queued, userHold});
      },
      &scan, 1, 0);
  ctx->jobs.KeepQueued(scan.printer, scan.held);
  const QueuePlan plan = PlanQueue(std::move(scan.entries));
  for (int id : plan.hold) {
    pappl_job_t* job = papplPrinterFindJob(printer, id);
    if (!job) continue;
    ctx->jobs.SetQueued(scan.printer, id, true);
    if (papplJobHold(job, nullptr, nullptr, 0)) {
      papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Held back until the jobs before it have printed.");
    } else {
      ctx->jobs.SetQueued(scan.printer, id, false);
    }
  }
  pappl_job_t* next = plan.release ? papplPrinterFindJob(printer, plan.release) : nullptr;
  if (!next) return false;
  ctx->jobs.SetQueued(scan.printer, plan.release, false);
  papplLogJob(next, PAPPL_LOGLEVEL_DEBUG, "Next in the queue.");
  return papplJobRelease(next, nullptr);
}

void SetJobMessage(pappl_job_t* job, const char* format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
#if LUMORA_PAPPL_PRIVATE
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (AppContext* ctx = ContextOf(printer)) {
    ctx->jobs.SetMessage(papplPrinterGetID(printer), papplJobGetID(job), text);
    return;
  }
#endif
  papplJobSetMessage(job, "%s", text);
}

JobShown ShownState(pappl_job_t* job) {
  JobShown shown;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  AppContext* ctx = ContextOf(printer);
  if (!ctx) return shown;
  const int printerId = papplPrinterGetID(printer);
  const int id = papplJobGetID(job);
  shown.message = ctx->jobs.Message(printerId, id);
  shown.queued = papplJobGetState(job) == IPP_JSTATE_HELD && !UserHold(job) &&
                 ctx->jobs.Queued(printerId, id);
  return shown;
}

void Restate(ipp_t* attrs, ipp_tag_t group, const JobShown& shown) {
  if (shown.queued) {
    if (ipp_attribute_t* state = ippFindAttribute(attrs, "job-state", IPP_TAG_ENUM)) {
      ippSetInteger(attrs, &state, 0, IPP_JSTATE_PENDING);
    }
    ReplaceText(attrs, group, "job-state-reasons", IPP_TAG_KEYWORD, "job-queued");
  }
  const std::string& message =
      shown.message.empty() && shown.queued ? std::string(kQueuedMessage) : shown.message;
  if (!message.empty()) ReplaceText(attrs, group, "job-state-message", IPP_TAG_TEXT, message.c_str());
}

void AppendAttributes(ipp_t* to, ipp_t* from) {
  for (ipp_attribute_t* a = ippFirstAttribute(from); a; a = ippNextAttribute(from)) {
    ippCopyAttribute(to, a, 0);
  }
}

void ClampJobTimes(ipp_t* response) {
  for (const char* name : {"time-at-creation", "time-at-processing", "time-at-completed"}) {
    for (ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_INTEGER); a;
         a = ippFindNextAttribute(response, name, IPP_TAG_INTEGER)) {
      if (ippGetInteger(a, 0) < 0) ippSetInteger(response, &a, 0, 0);
    }
  }
}

void DropRepeatedJobAttributes(ipp_t* response) {
  std::set<std::string> seen;
  std::vector<ipp_attribute_t*> repeated;
  ipp_tag_t group = IPP_TAG_ZERO;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    const char* name = ippGetName(a);
    if (!name || ippGetGroupTag(a) != group) {  // a separator, or another group
      group = ippGetGroupTag(a);
      seen.clear();
      repeated.clear();
      if (!name) continue;
    }
    if (group == IPP_TAG_JOB && !seen.insert(name).second) repeated.push_back(a);
  }
  for (ipp_attribute_t* a : repeated) ippDeleteAttribute(response, a);
}

void AdoptReloadedJobs(pappl_system_t* system, const std::vector<EndedJob>& ended) {
  AppContext* ctx = SystemContext(system);
  if (!ctx) return;
  for (const EndedJob& e : ended) ctx->jobs.SetMessage(e.printerId, e.jobId, e.why);
#if LUMORA_PAPPL_PRIVATE
  for (int id : PrinterIds(system)) {
    pappl_printer_t* printer = FindPrinter(system, id);
    // Jobs held while the printer holds new jobs are the administrator's.
    if (!printer || papplPrinterIsHoldingNewJobs(printer)) continue;
    struct Held {
      JobRecords* records;
      int printer;
    } held{&ctx->jobs, id};
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t* job, void* data) {
          auto* h = static_cast<Held*>(data);
          if (papplJobGetState(job) == IPP_JSTATE_HELD && papplJobGetFilename(job) && !UserHold(job)) {
            h->records->SetQueued(h->printer, papplJobGetID(job), true);
          }
        },
        &held, 1, 0);
  }
#endif
}

void ExpireWaitingJobs(pappl_system_t* system, int timeout, time_t now) {
  AppContext* ctx = SystemContext(system);
  if (!ctx || timeout <= 0) return;
  for (int id : PrinterIds(system)) {
    pappl_printer_t* printer = FindPrinter(system, id);
    if (!printer || ctx->documents.Receiving(id)) continue;
    Expired expired{timeout, now, {}};
    papplPrinterIterateActiveJobs(printer, FindExpired, &expired, 1, 0);
    for (int jobId : expired.jobs) {
      pappl_job_t* job = papplPrinterFindJob(printer, jobId);
      if (!job || papplJobGetState(job) != IPP_JSTATE_HELD || papplJobGetFilename(job)) continue;
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "No document within %d seconds of Create-Job: ended.",
                  timeout);
      SetJobMessage(job, "No document came within %d seconds of the job's creation.", timeout);
      papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
      papplJobCancel(job);
    }
  }
}

void StartQueues(pappl_system_t* system) {
#if LUMORA_PAPPL_PRIVATE
  AppContext* ctx = SystemContext(system);
  if (!ctx) return;
  for (int id : PrinterIds(system)) {
    if (pappl_printer_t* printer = FindPrinter(system, id)) _papplPrinterCheckJobs(printer);
  }
#else
  (void)system;
#endif
}

}  // namespace lumora::app
