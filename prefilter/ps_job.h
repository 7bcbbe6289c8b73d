// SPDX-License-Identifier: GPL-2.0-or-later
// One PostScript job as an object: the printer it is for, the job's ticket
// and input, where its bytes and log lines go, and what the process around
// it provides. pstoLumora drives it from the scheduler's arguments and the
// queue's PPD; a printer application drives it from its driver table and
// its device. Nothing is shared between two jobs, so any number may run at
// once, one thread each. Side-channel threads that a job starts belong to
// it: they end with the job and are joined before Run() returns.
//
//   PsJob job(printer, ticket, input, device, log, hooks);
//   int status = job.Run();   // support check, size checks, one road
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "byte_output.h"
#include "device_line.h"
#include "side_timing.h"

namespace lumora {

// One page size of the printer, in points.
struct PsPageSize {
  std::string name;  // PageSize choice ("A4"; "Custom" for the custom size)
  float width = 0;
  float length = 0;
};

// What the job needs to know of the printer: what pstoLumora reads from the
// queue's PPD, or a printer application takes from its driver table.
struct PsPrinterDescription {
  // *ShortNickName: recognises the model when the device reports no id.
  std::optional<std::string> shortNickName;
  // *PageSize choices with their *PaperDimension.
  std::vector<PsPageSize> pageSizes;
  // The printer takes custom sizes ("Custom.WIDTHxLENGTH[unit]").
  bool variableSizes = false;
  // The queue's default choice of each option (*DefaultDuplex,
  // *DefaultFeedEdge, *DefaultCollate, *DefaultPageSize ...), as an
  // administrator set them; a job's own options win over them.
  std::map<std::string, std::string> defaults;
  // The PJL the queue puts around a PostScript job (*JCLBegin,
  // *JCLToPSInterpreter, *JCLEnd). In a CUPS filter chain the scheduler's
  // pstops has put it around the job already; an application that hands
  // the job bare PostScript wraps it with these first.
  std::string jclBegin, jclToPs, jclEnd;
};

// The job as the scheduler names it (a filter's arguments).
struct PsJobTicket {
  std::string queue;    // argument 0: the queue's name
  std::string jobId;    // decimal text
  std::string user;
  std::string title;
  std::string copies;   // decimal text
  std::string options;  // "key=value key ..." as in a filter's option argument
};

// Where the job's data comes from: a file named by the scheduler (left in
// place), or a descriptor spooled into a temporary file first.
struct PsJobInput {
  std::string path;
  int fd = -1;
};

enum class DeviceIdAnswer { kId, kNoId, kNoAnswer };

// What the process around the job provides. Every member may stay empty.
struct PsJobHooks {
  // Polled while the job runs; true = cancelled (SIGTERM in the filter).
  std::function<bool()> cancelled;
  // A descriptor that polls readable once `cancelled` turns true (the
  // filter's SIGTERM handler writes to it), so that waits end at once; -1:
  // none (Cancel() still ends them).
  int cancelWakeFd = -1;
  // The printer's IEEE-1284 device id: up to *len bytes into buf (*len set
  // to the id's length). kNoAnswer: the device did not answer in time, so
  // the job does not ask again. The filter asks the backend over the CUPS
  // side channel; empty: the printer reports none.
  std::function<DeviceIdAnswer(char* buf, int* len)> deviceId;
  // The device the keep-alive thread keeps awake (DEVICE_URI in a filter);
  // without it the queue name counts when it holds a URI.
  std::optional<std::string> deviceUri;
  // The device URI the status thread asks (the filter looks the queue up
  // among the scheduler's destinations); empty: none.
  std::function<std::string()> statusDeviceUri;
  // An application's own line to the printer for both threads; empty: the
  // threads talk to the device URI (USB vendor requests, SNMP on UDP 161).
  DeviceLineOpener deviceLine;
  // The threads' pauses (a filter reads shortened ones from its environment).
  SideTimings timings;
  // Host name for the job owner (tests fix it); default gethostname.
  std::function<int(char* name, size_t len)> hostName;
  // Creates a temporary file (its name into name, the descriptor returned,
  // -1 on failure). Default: cupsTempFd, in TMPDIR.
  std::function<int(char* name, int size)> createTemp;
  // Helper programs and the environment they run with (added to the
  // process's own): the PDF road's converter reads the queue's PPD from it.
  std::string pdftopsPath = "/usr/lib/cups/filter/pdftops";
  std::string qpdfPath = "qpdf";
  std::string lmqpdfPath = "/opt/lumora/bin/lmqpdf";
  std::string grepPath = "grep";
  std::vector<std::string> childEnvironment;
  // Seconds before a refusal is reported (1 in the filter).
  unsigned refusalPauseSeconds = 1;
};

struct PsJobState;

class PsJob {
 public:
  // printer, device and log must outlive the job; log lines may come from
  // the job's side-channel threads too (one Line call per line).
  PsJob(const PsPrinterDescription& printer, const PsJobTicket& ticket, const PsJobInput& input,
        ByteOutput& device, LogOutput& log, PsJobHooks hooks = {});
  // Joins any thread still running and removes the job's temporary files.
  ~PsJob();
  PsJob(const PsJob&) = delete;
  PsJob& operator=(const PsJob&) = delete;

  // The whole job; returns the exit status of a filter: 1 for a refused
  // printer or size, or a job that could not be produced; 0 otherwise.
  int Run();
  // Cancels from any thread: the output is cut at the next page boundary.
  void Cancel();
  bool Cancelled() const;

 private:
  std::unique_ptr<PsJobState> state_;
  PsJobInput input_;
};

}  // namespace lumora
