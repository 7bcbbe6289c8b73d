// The raster filter's job: arguments and PPD in, the printer's job stream
// out through the output sink (standard output unless a test injects
// another stream with SinkSetOutput), status lines on standard error.
#pragma once

#include <csignal>

// Set by the SIGTERM handler; the page loop finishes the current page.
extern volatile sig_atomic_t Canceled;

// The whole job; returns the exit status (0 when a page was printed).
int RasterToLumoraJob(int argc, char* argv[]);

// SIGTERM handler: sets Canceled, nothing else.
void CancelJob(int sig);
// SIGALRM handler: the keep-alive filler 00 00, only between command groups.
void SendDummyCommand(int sig);

// Back to the start values of a fresh process (for in-process tests).
void ResetRasterJob();
