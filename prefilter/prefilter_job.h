// SPDX-License-Identifier: GPL-2.0-or-later
// The pre-filter's job flow: support checks, spooling of standard input,
// size checks, then the PostScript road or the PDF road.
#pragma once

#include <string>

// The whole job: argv as the scheduler gives it (6 or 7 entries), job data
// read from in_fd (6 arguments) and written to out_fd. Returns the exit
// status: 1 for a refused printer or size, a usage error or a job that
// could not be produced; 0 otherwise. Every temporary file it made is gone
// when it returns.
int pstoLumoraJob(int argc, char* argv[], int in_fd, int out_fd);

// SIGTERM handler: marks the job cancelled.
void cancel_job(int sig);
// Makes standard error unbuffered, catches SIGTERM with cancel_job and
// ignores SIGPIPE (a closed output is a write error, not a silent death).
void InstallPrefilterSignals();

// Spools the job input into a new temporary file and puts its name in path
// (left empty on failure).
void Copy_StdinToTempFile(std::string& path);

// Copies a file to the job output in 8 KiB blocks, cut at the next page
// boundary once the job is cancelled. False when it cannot be opened.
bool WritePrintFileToStdout(const std::string& path);
