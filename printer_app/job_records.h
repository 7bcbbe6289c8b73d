// SPDX-License-Identifier: GPL-2.0-or-later
// What the application keeps about a system's jobs beside PAPPL's job
// objects.
//
// - Job state messages. PAPPL 1.3.1 copies a job's message into IPP
//   answers (Get-Job-Attributes, Get-Jobs, events) without the job's lock,
//   while papplJobSetMessage frees the old text: a client polling a printing
//   job read freed memory. The application's messages live here; the
//   server states them in the answers (pappl_hooks.cpp).
// - Queued jobs. PAPPL starts the newest pending job first; the
//   application holds back every waiting job but the oldest (job_queue.h)
//   and marks here the ones it holds.
// - Documents being received, per printer.
//
// The tables' lock is taken only around the tables, never while PAPPL is
// called: PAPPL calls in with its own locks held, so it is the last lock
// taken.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumora::app {

class JobRecords {
 public:
  void SetMessage(int printerId, int jobId, std::string text);
  // The job's message, or "" when the application gave it none.
  std::string Message(int printerId, int jobId) const;

  // The application holds the job back until the jobs before it printed.
  void SetQueued(int printerId, int jobId, bool queued);
  bool Queued(int printerId, int jobId) const;
  // Forgets the printer's queued jobs that are not among held.
  void KeepQueued(int printerId, const std::vector<int>& held);

  // Serializes the orderings of the queues (taken with no PAPPL lock held,
  // never while the tables' lock is).
  std::mutex& OrderMutex() { return order_; }

 private:
  // The oldest messages go first beyond this (PAPPL keeps 100 finished
  // jobs a printer).
  static constexpr size_t kMessages = 4096;
  using Key = std::pair<int, int>;
  mutable std::mutex mutex_;
  std::map<Key, std::string> messages_;
  std::deque<Key> messageOrder_;
  std::set<Key> queued_;
  std::mutex order_;
};

// The printers for which a document is being received.
class DocumentGate {
 public:
  // A document for the printer is being received.
  void Begin(int printerId);
  void End(int printerId);
  bool Receiving(int printerId) const;

 private:
  mutable std::mutex mutex_;
  std::map<int, int> receiving_;
};

}  // namespace lumora::app
