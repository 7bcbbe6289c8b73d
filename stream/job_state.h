// Process-wide job state of the raster filter that the page loop, the
// command stream and the screen all touch. Defined in job_state.cpp; tests
// put it back to its start values with ResetJobState().
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>

// Page being processed, 1-based; 0 before the first page header.
extern int g_page;

// 1 while command bytes are being produced. The SIGALRM keep-alive writes its
// filler only while this is 0, so the filler never lands inside a record.
extern volatile sig_atomic_t g_ismiddlepage;

// Model name (*ModelName) of the queue's PPD.
extern char gPPDFile[1024];

// Failure text of the command stream, newest message first.
extern char prntLastError[1024];

// Printed dots of the current page: cleared at page start, added to by the
// screen, reported by the coverage records.
extern uint32_t gImageCoverage;

// Puts msg in front of prntLastError (cut to 1023 characters).
void PrependLastError(const char* msg);
// Replaces prntLastError by msg.
void SetLastError(const char* msg);

// Back to the start values of a new process (used between in-process tests).
void ResetJobState();
