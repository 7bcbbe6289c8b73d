// SPDX-License-Identifier: GPL-2.0-or-later
// The printer application's system: its server options, where it keeps its
// state and spool files, its listeners, and what it hands PAPPL (drivers,
// auto-add, the PDF filter). Everything travels through PAPPL's data
// pointers as one AppContext; nothing is global.
#pragma once

#include <pappl/pappl.h>

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app_auth.h"
#include "duplex_wait.h"
#include "job_records.h"

namespace lumora::app {

constexpr const char* kAppName = "lumora-printer-app";
constexpr int kDefaultPort = 8000;
// How long a job made by Create-Job waits for its document (CUPS's
// MultipleOperationTimeout), in seconds.
constexpr int kDefaultDocumentTimeout = 900;
// The driver's version (the top entry of debian/changelog), as --version
// and the server report it.
extern const char kAppVersion[];

struct AppContext {
  AppContext(int argc, char* argv[]);

  std::string subcommand;    // "server", "add", ... ("" when none is named)
  std::vector<pappl_pr_driver_t> drivers;
  std::string stateFile;     // set by the system callback
  std::string spoolDirectory;  // set by the system callback
  AuthSettings auth;         // set by the system callback
  std::string fileDirectory; // where printers may have file devices ("": nowhere)
  std::string renderer = "/proc/self/exe";  // runs the PDF renderers (page_renderer.h)
  std::unique_ptr<DuplexWaits> waits;  // set by the system callback
  int documentTimeout = kDefaultDocumentTimeout;  // -o multiple-operation-timeout
  JobRecords jobs;
  DocumentGate documents;
  struct {
    std::mutex mutex;
    std::map<pappl_printer_t*, time_t> quietUntil;  // no supplies asked before then
  } supplyPolls;
};

// The context of a system this process created, or nullptr. (PAPPL hands
// the raster callbacks no data of the application's.)
AppContext* SystemContext(pappl_system_t* system);

// Where a server keeps its state and spool files by default: for root under
// /var/lib and /var/spool, for others under $XDG_STATE_HOME (or
// ~/.local/state).
std::string DefaultStateFile(uid_t uid);
std::string DefaultSpoolDirectory(uid_t uid);

// Makes the spool directory (parents too) private to the service: owned by
// it, mode 0700. Returns an error text, or "" on success.
std::string MakePrivateDirectory(const std::string& path);

// pappl_ml_system_cb_t.
pappl_system_t* SystemCallback(int numOptions, cups_option_t* options, void* data);

}  // namespace lumora::app
