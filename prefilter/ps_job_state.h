// SPDX-License-Identifier: GPL-2.0-or-later
// The state of one PostScript job, handed to every step of the job: the
// printer, the ticket, the hooks, the flags the support and size checks
// set, where the bytes go, the temporary files the job made and the
// side-channel threads it started.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ps_job.h"
#include "sidechannel.h"

namespace lumora {

struct PsJobState {
  PsJobState(const PsPrinterDescription& printer, const PsJobTicket& ticket, ByteOutput& device,
             LogOutput& log, PsJobHooks hooks);
  // Removes the temporary files the job made.
  ~PsJobState();
  PsJobState(const PsJobState&) = delete;
  PsJobState& operator=(const PsJobState&) = delete;

  const PsPrinterDescription& printer;
  const PsJobTicket ticket;
  PsJobHooks hooks;
  ByteOutput& device;
  LogOutput& log;
  // The device's descriptor when it is one (the filter's standard output):
  // the copy loops then wait for room beside the cancel, and hand the file
  // to the kernel. -1 for other outputs.
  const int deviceFd;
  SideJob side;  // the cancel flag, shared with the threads

  // Set by the support and size checks before either road starts.
  bool ismaple = false;     // the maple family: its PostScript is rewritten
  bool iscollate = false;   // the job makes the collated copies itself
  int copies = 0;           // collated copies (argument 4 while collating)
  bool isA5Page = false;    // A5 fed long edge first
  int width = 0;            // page size in points as the PPD defines it;
  int height = 0;           // 0 when the job names no size

  // A device-id query went unanswered for the whole time-out: later ones
  // of the job do not wait again.
  bool deviceIdUnanswered = false;
  // A write to the device failed (backend gone, disk full).
  bool outputFailed = false;
  // The cancel cut was made: the output ends with the cancel trailer, and
  // the PJL job is then closed as the job file closes it (jobClose).
  bool cut = false;
  std::string jobClose;
  std::vector<std::string> tempFiles;

  StatusThread statusThread;
  KeepAliveThread keepAlive;

  bool Cancelled() const { return side.Cancelled(); }
};

// Writes all of data to the device; false (and outputFailed) on error.
bool WriteToOutput(PsJobState& job, const void* data, size_t len);
inline bool WriteToOutput(PsJobState& job, const std::string& s) {
  return WriteToOutput(job, s.data(), s.size());
}

// Temporary files of the job: each is removed when the job ends, whatever
// the way out. CreateJobTempFile makes an empty one (hooks.createTemp) and
// returns its descriptor (-1 on failure).
int CreateJobTempFile(PsJobState& job, std::string& path);
void RegisterJobTempFile(PsJobState& job, const std::string& path);
bool IsJobTempFile(const PsJobState& job, const std::string& path);
// Removes one file now if the job made it; leaves other files alone.
void RemoveJobTempFile(PsJobState& job, const std::string& path);

// Spools the job input (descriptor inFd) into a new temporary file and puts
// its name in path (left empty on failure).
void Copy_StdinToTempFile(PsJobState& job, int inFd, std::string& path);
// Copies a file to the device in 8 KiB blocks, cut at the next page
// boundary once the job is cancelled. False when it cannot be opened.
bool WritePrintFileToStdout(PsJobState& job, const std::string& path);

// The queue default of an option, or null.
const char* QueueDefault(const PsPrinterDescription& printer, const char* option);
// The choice of an option for this job, as the queue's defaults and then
// the job's options give it (a job's "media" counts for "PageSize" when it
// names one of the printer's sizes); empty when neither names one.
std::string EffectiveOption(const PsJobState& job, const char* option);

// The end of the PJL job in a job file: its last universal exit that opens
// PJL ("\x1b%-12345X@PJL") and everything after it; empty without one.
std::string JobCloseOf(const std::string& path);
// After a cancel cut: the PJL job closed as a completed job's is.
void CloseCutJob(PsJobState& job);

}  // namespace lumora
