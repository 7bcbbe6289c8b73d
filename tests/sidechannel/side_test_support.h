// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers of the side-channel tests: running the probe (one operation per
// process) and the rigs, reading their logs.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace lumora::test::sidechannel {

// Set by main: the tests run in a private network namespace (loopback only,
// port 161 free), so an agent may bind 127.0.0.1:161.
bool PrivateNetwork();

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

using EnvList = std::vector<std::pair<std::string, std::string>>;

// Temporary directories and file helpers are the ones every test uses.
using lumora::test::ReadFile;
using lumora::test::TempDir;
using lumora::test::WriteFile;

// Runs argv to its end with extra environment (DEVICE_URI unset unless
// given); standard output and error are collected.
RunResult Run(const std::vector<std::string>& argv, const EnvList& env = {});

// The probe program: sidechannel_probe ARGS...
RunResult Probe(const std::vector<std::string>& args, const EnvList& env = {});
// The probe under the emulated USB printers of `scenarioJson`; the rig's
// event log is returned in `rigLog`.
RunResult ProbeWithUsb(const std::string& scenarioJson, const std::vector<std::string>& args,
                       std::string* rigLog, const EnvList& env = {});

// A process running beside the test (an SNMP agent), ended by its PID.
class Background {
 public:
  // Starts argv and waits until `readyFile` exists and is non-empty.
  Background(const std::vector<std::string>& argv, const std::string& stdoutFile,
             const std::string& readyFile);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

std::vector<std::string> Lines(const std::string& text);
// Number of times `needle` occurs in `text`.
int Count(const std::string& text, const std::string& needle);
std::string Hex(const unsigned char* data, size_t size);

// Paths of the rigs and the probe (set at build time).
std::string RigPath(const std::string& name);
bool UsbEmulationAvailable();

}  // namespace lumora::test::sidechannel
