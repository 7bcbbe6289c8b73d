// SPDX-License-Identifier: GPL-2.0-or-later
// The order jobs print in, what clients see of a job, and the jobs a
// server finds in its state file when it starts.
//
// PAPPL 1.3.1 keeps a printer's active jobs newest first and starts the
// first pending one: jobs queued behind a printing one printed in the
// reverse of the order they came. Before PAPPL looks for a job to start,
// the application holds back (papplJobHold) every waiting job but the
// oldest, and releases the oldest it holds back once no job is pending:
// the oldest is always the only job PAPPL can start. Clients see the jobs
// held back as pending, "job-queued" (pappl_hooks.cpp states them).
#pragma once

#include <pappl/pappl.h>

#include <ctime>
#include <string>
#include <vector>

#include "app_state.h"

namespace lumora::app {

// One active job of a printer, as the ordering sees it.
struct QueueEntry {
  int id;
  ipp_jstate_t state;
  bool queued;    // held back by the application
  bool userHold;  // held until a time or for ever by its user (job-hold-until)
};

// What the ordering does: the pending jobs to hold back, the held-back
// job to release (0: none).
struct QueuePlan {
  std::vector<int> hold;
  int release = 0;
};
QueuePlan PlanQueue(std::vector<QueueEntry> jobs);

// Orders the printer's queue. Called with no lock of PAPPL's held. True
// when it released a job (PAPPL has then looked for a job to start).
bool OrderQueue(pappl_printer_t* printer);

// Sets the job's state message (in papplJobSetMessage's place; see
// job_records.h).
void SetJobMessage(pappl_job_t* job, const char* format, ...) __attribute__((format(printf, 2, 3)));

// What a job shows clients beyond PAPPL's own state.
struct JobShown {
  bool queued = false;  // held back in the queue: shown pending, job-queued
  std::string message;  // the application's message ("": PAPPL's)
};
// Takes no lock of PAPPL's (PAPPL asks with its locks held).
JobShown ShownState(pappl_job_t* job);
// Changes the job state attributes PAPPL put in attrs as shown says.
void Restate(ipp_t* attrs, ipp_tag_t group, const JobShown& shown);
// Copies every attribute of from to the end of to.
void AppendAttributes(ipp_t* to, ipp_t* from);
// PAPPL counts a job's time-at-creation, -processing and -completed from
// its printer's start: a job from before it (reloaded from the state file)
// came out negative. Such values become 0, "before this start" (the
// date-time-at-* attributes keep the exact times).
void ClampJobTimes(ipp_t* response);
// PAPPL 1.3.1 gives a job reloaded from the state file its job-id,
// job-uri, job-uuid and job-printer-uri, then reads its saved attributes,
// which hold them again: its answers named them twice (a strict client
// refuses such an answer). In the last job of the response, the second of
// each name goes.
void DropRepeatedJobAttributes(ipp_t* response);

// After the state file is loaded, before the server runs: the jobs it
// ended (EndInterruptedJobs) get their reason, and held jobs that only the
// application can have held back are in its queue again.
void AdoptReloadedJobs(pappl_system_t* system, const std::vector<EndedJob>& ended);

// Jobs made by Create-Job that got no document within timeout seconds of
// their creation are cancelled with the reason (none while a document for
// their printer is being received).
void ExpireWaitingJobs(pappl_system_t* system, int timeout, time_t now);

// Orders every printer's queue and has PAPPL look for a job to start (the
// reloaded jobs, which PAPPL never starts itself).
void StartQueues(pappl_system_t* system);

}  // namespace lumora::app
