// SPDX-License-Identifier: GPL-2.0-or-later
// One job at a time per device, each job processed once, and nothing
// thrown out of a callback.
//
// PAPPL 1.3.1 may hand the application a job twice or a job that no longer
// has a document: its job check starts a thread for the newest pending job
// without marking it, so a second check before that thread runs starts
// another for the same job; a Cancel-Job before the thread runs frees the
// job's document and the thread still calls the filter. A client's PWG
// raster is printed by the client's own thread, beside a spooled job that
// PAPPL starts at the same moment. Every job callback of the application
// therefore claims the job first: the claim waits for the job's device
// (other jobs on it finish first), and a job that another thread processes
// or has processed is left alone.
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <mutex>
#include <string>

#include "job_queue.h"

namespace lumora::app {

class JobClaim {
 public:
  // Waits until no other job of the process uses the printer's device.
  explicit JobClaim(pappl_job_t* job);
  ~JobClaim();
  JobClaim(const JobClaim&) = delete;
  JobClaim& operator=(const JobClaim&) = delete;

  // The job is this claim's to process (false: another thread has it, or
  // had it: return true, PAPPL keeps the state that thread gave it).
  bool Held() const { return held_; }

 private:
  pappl_job_t* job_;
  std::shared_ptr<std::mutex> device_;
  std::unique_lock<std::mutex> lock_;
  bool held_ = false;
};

// The job's document file; "" when the job was cancelled before it
// started (PAPPL freed its name): the job is then marked cancelled.
std::string JobDocument(pappl_job_t* job);

// Runs a job callback body: an exception is logged against the job and the
// callback returns false (the job is aborted), never past PAPPL.
template <typename Body>
bool GuardJob(pappl_job_t* job, const char* what, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s failed: %s.", what, e.what());
  } catch (...) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s failed.", what);
  }
  SetJobMessage(job, "The job could not be printed (internal error).");
  return false;
}

// Gives the memory freed by a job back to the system (glibc keeps freed
// pages of its arenas otherwise).
void ReleaseFreedMemory();

}  // namespace lumora::app
