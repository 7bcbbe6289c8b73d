// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoLumora as a function: the scheduler's arguments and the queue's
// PPD in, the raster read from the job file or standard input, the job
// stream to the device output, status lines to the log. The program's main
// calls it with standard output and standard error; tests and fuzzers call
// it in-process with outputs of their own.
#pragma once

#include <cups/ppd.h>

#include <csignal>

#include "byte_output.h"
#include "cups_binding.h"
#include "raster_job.h"

namespace lumora {

// The filter's process-wide signal state: SIGTERM sets Canceled; the
// SIGALRM keep-alive writes its filler to gKeepAliveFd only while
// g_ismiddlepage is 0 (between command groups).
extern volatile sig_atomic_t Canceled;
extern volatile sig_atomic_t g_ismiddlepage;
extern volatile sig_atomic_t gKeepAliveFd;

struct FilterIo {
  ByteOutput* device = nullptr;  // the printer (standard output)
  LogOutput* log = nullptr;      // the scheduler's log (standard error)
  int deviceFd = 1;              // where the keep-alive filler goes
  bool handleSignals = true;     // SIGTERM and the SIGALRM keep-alive timer
};

// The whole job; returns the exit status (0 when a page was printed).
int RasterToLumoraJob(int argc, char* argv[], const FilterIo& io);

// SIGTERM handler: sets Canceled, nothing else.
void CancelJob(int sig);
// SIGALRM handler: the keep-alive filler 00 00, only between command groups.
void SendDummyCommand(int sig);

// What the queue's PPD tells a job about its printer.
PrinterDescription DescribePrinter(ppd_file_t* ppd, const CupsBinding& cups);

}  // namespace lumora
