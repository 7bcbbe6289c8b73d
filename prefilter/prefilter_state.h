// SPDX-License-Identifier: GPL-2.0-or-later
// Job state of the pre-filter and the few things its modules share: where
// the job data goes (the output descriptor), where spooled input comes from,
// the temporary files the job made, and the seams the tests turn.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <string>

#include "sidechannel.h"

// The printer belongs to the maple family (its PostScript is rewritten).
extern bool ismaple;
// The pre-filter makes the collated copies itself.
extern bool iscollate;
// Number of collated copies (argument 4 while collating, else 0).
extern int copies;
// A5 paper fed long edge first.
extern bool isA5Page;
// Page size of the job in points as the PPD defines it; 0 when unknown.
extern int width;
extern int height;

// Descriptors of the job: standard input/output of the program, a pipe or a
// file in the tests.
extern int gInFd;
extern int gOutFd;
// Set when a write to the output failed (backend gone, disk full).
extern bool gOutputFailed;

// Seconds to wait before a refusal is reported (1 in the program).
extern unsigned gRefusalPause;
// Time-out of one device-id query over the side channel, in seconds.
extern double gDeviceIdTimeout;
// A device-id query of this job went unanswered for the whole time-out: the
// backend does not serve the side channel, and later queries do not wait.
extern bool gDeviceIdUnanswered;
// The system's PostScript converter and the driver's own PDF tool.
extern std::string gPdftopsPath;
extern std::string gLmqpdfPath;

// The background threads, reached through these so that in-process tests can
// watch what would be started instead of talking to a printer.
struct PrefilterHooks {
  int (*start_status_thread)(pthread_t* thread, cancel_query_arg* arg);
  void (*start_keepalive)(char** argv);
  void (*stop_keepalive)();
};
extern PrefilterHooks gPrefilterHooks;
// The real ones: Printer_cancle_query_tread, Creatpthread, Waitpthread.
PrefilterHooks DefaultPrefilterHooks();

// Writes all of data to the job output; false (and gOutputFailed) on error.
bool WriteToOutput(const void* data, size_t len);
inline bool WriteToOutput(const std::string& s) { return WriteToOutput(s.data(), s.size()); }

// Temporary files made for this job. Each is removed when the job ends
// (RemoveJobTempFiles), whatever the path out.
void RegisterJobTempFile(const std::string& path);
bool IsJobTempFile(const std::string& path);
// Removes one file now if the job made it; leaves other files alone.
void RemoveJobTempFile(const std::string& path);
void RemoveJobTempFiles();

// Creates an empty temporary file in the scheduler's temporary directory
// (cupsTempFd), registers it and returns its descriptor (-1 on failure).
int CreateJobTempFile(std::string& path);

// Back to the start values of a new process (used between in-process tests).
void ResetPrefilterState();
