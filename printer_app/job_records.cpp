// SPDX-License-Identifier: GPL-2.0-or-later
#include "job_records.h"

#include <algorithm>

namespace lumora::app {

void JobRecords::SetMessage(int printerId, int jobId, std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Key key(printerId, jobId);
  if (!messages_.insert_or_assign(key, std::move(text)).second) return;
  messageOrder_.push_back(key);
  if (messageOrder_.size() > kMessages) {
    messages_.erase(messageOrder_.front());
    messageOrder_.pop_front();
  }
}

std::string JobRecords::Message(int printerId, int jobId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = messages_.find(Key(printerId, jobId));
  return it == messages_.end() ? std::string() : it->second;
}

void JobRecords::SetQueued(int printerId, int jobId, bool queued) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queued) {
    queued_.insert(Key(printerId, jobId));
  } else {
    queued_.erase(Key(printerId, jobId));
  }
}

bool JobRecords::Queued(int printerId, int jobId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queued_.count(Key(printerId, jobId)) > 0;
}

void JobRecords::KeepQueued(int printerId, const std::vector<int>& held) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = queued_.lower_bound(Key(printerId, 0));
  while (it != queued_.end() && it->first == printerId) {
    if (std::find(held.begin(), held.end(), it->second) == held.end()) {
      it = queued_.erase(it);
    } else {
      ++it;
    }
  }
}

void DocumentGate::Begin(int printerId) {
  std::lock_guard<std::mutex> lock(mutex_);
  receiving_[printerId]++;
}

void DocumentGate::End(int printerId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = receiving_.find(printerId);
  if (it != receiving_.end() && --it->second <= 0) receiving_.erase(it);
}

bool DocumentGate::Receiving(int printerId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return receiving_.count(printerId) > 0;
}

}  // namespace lumora::app
