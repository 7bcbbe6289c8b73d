// SPDX-License-Identifier: GPL-2.0-or-later
#include "job_gate.h"

#include <malloc.h>

#include <deque>
#include <map>
#include <set>
#include <utility>

namespace lumora::app {

namespace {

// The process's devices and the jobs it has claimed: one table for the
// whole process, as the devices are the process's.
class DeviceTable {
 public:
  static DeviceTable& Get() {
    static DeviceTable table;
    return table;
  }

  std::shared_ptr<std::mutex> Device(const std::string& uri) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<std::mutex>& slot = devices_[uri];
    if (!slot) slot = std::make_shared<std::mutex>();
    return slot;
  }

  // true the first time a job is claimed. A duplicate thread arrives
  // within moments of the first: the last kRemembered claims are kept.
  bool FirstClaim(int printerId, int jobId) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::pair<int, int> key(printerId, jobId);
    if (!claimed_.insert(key).second) return false;
    order_.push_back(key);
    if (order_.size() > kRemembered) {
      claimed_.erase(order_.front());
      order_.pop_front();
    }
    return true;
  }

 private:
  static constexpr size_t kRemembered = 4096;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<std::mutex>> devices_;
  std::set<std::pair<int, int>> claimed_;
  std::deque<std::pair<int, int>> order_;
};

std::string DeviceUri(pappl_job_t* job) {
  char uri[1024] = "";
  pappl_printer_t* printer = papplJobGetPrinter(job);
  // The printer's own copy can change while the job runs.
  if (const char* u = papplPrinterGetDeviceURI(printer)) papplCopyString(uri, u, sizeof(uri));
  return uri;
}

}  // namespace

JobClaim::JobClaim(pappl_job_t* job)
    : job_(job), device_(DeviceTable::Get().Device(DeviceUri(job))), lock_(*device_) {
  held_ = DeviceTable::Get().FirstClaim(papplPrinterGetID(papplJobGetPrinter(job)),
                                        papplJobGetID(job));
  if (!held_) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Already processed by another thread: left alone.");
  }
}

JobClaim::~JobClaim() {
  lock_.unlock();
  if (held_) ReleaseFreedMemory();
}

std::string JobDocument(pappl_job_t* job) {
  const char* name = papplJobGetFilename(job);
  if (name && *name) return name;
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The job was cancelled before it started.");
  papplJobCancel(job);
  return "";
}

void ReleaseFreedMemory() { malloc_trim(0); }

}  // namespace lumora::app
