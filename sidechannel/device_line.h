// SPDX-License-Identifier: GPL-2.0-or-later
// The printer beside the print path as something other than its device URI
// reaches it: a printer application gives one of these to a job, and the
// job's side-channel threads use it in place of the USB vendor requests and
// the SNMP datagrams that the filter sends from the device URI.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace lumora {

struct cancel_query_arg;

class DeviceLine {
 public:
  virtual ~DeviceLine() = default;
  // One keep-alive exchange; the keep-alive thread calls it at once and then
  // after every keep-alive interval while the converted job is copied out.
  virtual void KeepAlive() = 0;
  // One status query: true when the printer reports the job of job.jobOwner
  // cancelled at its panel. The status thread asks every fifth pass of its
  // loop, as it asks a network printer.
  virtual bool JobCancelledAtPrinter(const cancel_query_arg& job) = 0;
};

// Which thread opens a line.
enum class DeviceLineUse { kKeepAlive, kStatus };

// Opens the line for one side-channel thread, on that thread, given the
// device URI the thread would have used; null: the printer cannot be reached
// and the thread ends.
using DeviceLineOpener =
    std::function<std::unique_ptr<DeviceLine>(DeviceLineUse use, const std::string& uri)>;

}  // namespace lumora
