// SPDX-License-Identifier: GPL-2.0-or-later
// Running the helper programs of the pre-filter (grep, qpdf, pdftops) with
// an argument vector: no shell ever sees a job title, option or path.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lumora {

class SideJob;

struct ChildResult {
  bool started = false;  // the program could be run at all
  int error = 0;         // errno of the failed start
  int status = -1;       // exit status; -1 when it died by a signal
  std::string output;    // its standard output, when captured
};

// Runs args[0] (looked up in PATH when it holds no '/') with args as its
// argument vector, the process's environment with `environment` added
// ("NAME=value", replacing a variable of that name) and standard input
// from /dev/null, and waits for it. With outFd >= 0 its standard output
// goes to that descriptor; otherwise up to captureLimit bytes of it are
// kept in output (the rest is read and dropped, so the program never
// blocks on a full pipe). With a job given, the program's log lines go to
// the job's log (a line without a CUPS level as a DEBUG line; after a cancel
// its ERROR lines are DEBUG lines too), nothing is started once the job is
// cancelled (error ECANCELED), and a program still running when it is
// cancelled is ended with SIGTERM.
ChildResult RunProgram(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment = {}, int outFd = -1,
                       size_t captureLimit = 65536, const SideJob* job = nullptr);

// The same with the program's standard output handed to sink piece by
// piece as it comes (nothing is kept in output).
ChildResult RunProgramInto(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           const std::function<void(const char* data, size_t len)>& sink,
                           const SideJob* job = nullptr);

// The first line of the output, without its line end, at most maxLen bytes.
std::string FirstLine(const std::string& output, size_t maxLen);

}  // namespace lumora
