// SPDX-License-Identifier: GPL-2.0-or-later
// Document conversion for the PostScript printers: the CUPS filters a CUPS
// queue with the model's PPD runs before pstoLumora (pdftopdf, pdftops,
// pstops, gstopdf, rastertopdf, imagetopdf), run with the arguments and the
// environment the scheduler gives them, one pipe from each to the next. The
// last one's output is what the PostScript job reads.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ps_drivers.h"

namespace lumora::app {

// The filters, in order, that a CUPS queue of the family runs for a
// document of this MIME type; empty when the queue takes no such document.
std::vector<std::string> ConversionChain(PsFamily family, const std::string& format);

// The document formats the PostScript printers take.
extern const char* const kPsDocumentFormats[];
extern const int kPsDocumentFormatCount;

// A filter's arguments as the scheduler gives them.
struct FilterArgs {
  std::string queue;    // argument 0: the printer's name
  std::string jobId;
  std::string user;
  std::string title;
  std::string copies;
  std::string options;  // "name=value ..." as the scheduler writes them
  std::string document;  // the job's file (the first filter's argument 6)
};

// The filter environment of a CUPS job: the scheduler's variables for the
// queue's PPD, the document type, the printer and its device.
struct FilterEnv {
  std::string serverBin;    // CUPS_SERVERBIN ("/usr/lib/cups")
  std::string dataDir;      // CUPS_DATADIR ("/usr/share/cups")
  std::string tempDir;      // TMPDIR
  std::string ppd;          // PPD
  std::string contentType;  // CONTENT_TYPE: the document's type
  std::string printer;      // PRINTER
  std::string deviceUri;    // DEVICE_URI
};
std::vector<std::string> FilterEnvironment(const FilterEnv& env);

// The filters of a chain running, the first one reading the document, each
// one's output on the next one's input; their log lines go to `log`, one
// call per line (from a thread of the chain's own). Stop() or the object's
// end ends the filters still running and reaps them.
class FilterChain {
 public:
  using LogSink = std::function<void(const std::string& line)>;
  explicit FilterChain(LogSink log) : log_(std::move(log)) {}
  ~FilterChain();
  FilterChain(const FilterChain&) = delete;
  FilterChain& operator=(const FilterChain&) = delete;

  // Starts the filters (names looked up in serverBin/filter); false when one
  // cannot be started (the others are ended again).
  bool Start(const std::vector<std::string>& filters, const FilterArgs& args,
             const std::vector<std::string>& environment, const std::string& serverBin);
  // The last filter's output (owned by the chain until TakeOutput).
  int TakeOutput();
  // Waits for every filter; true when all exited with status 0. With kill,
  // the filters still running are sent SIGTERM first.
  bool Finish(bool kill);
  // The first filter that failed ("pdftops (status 1)"), or "".
  const std::string& Failure() const { return failure_; }

 private:
  void ReadLog(int fd);

  LogSink log_;
  std::vector<pid_t> pids_;
  std::vector<std::string> names_;
  int output_ = -1;
  std::thread logThread_;
  std::string failure_;
};

}  // namespace lumora::app
