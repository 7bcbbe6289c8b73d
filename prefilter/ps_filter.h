// SPDX-License-Identifier: GPL-2.0-or-later
// pstoLumora as a function: the scheduler's arguments and the queue's PPD
// in, the job read from the job file or the input descriptor, the printer's
// data to the device output, log lines to the log. The program's main calls
// it with standard input, output and error; tests call it in-process.
#pragma once

#include <cups/ppd.h>

#include <csignal>
#include <functional>

#include "ps_job.h"

namespace lumora {

// The filter's SIGTERM state, the one thing the process owns: the handler
// sets `raised` and writes to `wakeFd` (the running job's cancel event, -1
// when no job runs), so that the job's waits end at once.
struct PsSigterm {
  volatile sig_atomic_t raised;
  volatile sig_atomic_t wakeFd;
};
extern PsSigterm gPsSigterm;

struct PsFilterIo {
  ByteOutput* device = nullptr;  // the printer (standard output)
  LogOutput* log = nullptr;      // the scheduler's log (standard error)
  int inFd = 0;                          // the job when no file is named
  // Time-out of one device-id query over the side channel, in seconds.
  double deviceIdTimeout = 10.0;
  // Called with the filter's hooks before the job runs (tests adjust them).
  std::function<void(PsJobHooks&)> adjustHooks;
};

// The whole job: argv as the scheduler gives it (6 or 7 entries). Returns
// the exit status: 1 for a refused printer or size, a usage error or a job
// that could not be produced; 0 otherwise. Every temporary file it made is
// gone when it returns.
int PsToLumoraJob(int argc, char* argv[], const PsFilterIo& io);

// The printer's device id asked of the backend over the CUPS side channel
// (the filter's deviceId hook).
DeviceIdAnswer QueryDeviceIdOverSideChannel(char* buf, int* len, double timeout);

// What the queue's PPD tells a job about its printer.
PsPrinterDescription DescribePsPrinter(ppd_file_t* ppd);

// SIGTERM handler: marks the job cancelled and wakes it.
void cancel_job(int sig);
// Makes standard error unbuffered, catches SIGTERM with cancel_job and
// ignores SIGPIPE (a closed output is a write error, not a silent death).
void InstallPrefilterSignals();

}  // namespace lumora
