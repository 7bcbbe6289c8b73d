// SPDX-License-Identifier: GPL-2.0-or-later
// Running the two filters the way the scheduler does, under conditions it
// does not plan for: a printer that went away, a full disk, SIGTERM at any
// moment, hostile arguments. Every run has a watchdog, so a filter that
// hangs shows up as `hung` instead of stopping the test suite.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace lumora::test::faults {

enum class Output {
  kPipe,        // read by the test
  kClosedPipe,  // a pipe whose reading end is closed: the printer is gone
  kDevFull,     // /dev/full: every write fails with ENOSPC
};

struct Launch {
  std::string program;                       // path of the filter
  std::vector<std::string> args;             // argv[1..]; argv[0] is the queue name
  std::string queue = "lumora-q";
  std::map<std::string, std::string> env;    // added to a clean scheduler environment
  std::string stdinFile;                     // /dev/null when empty
  std::string cwd;                           // working directory (unchanged when empty)
  Output output = Output::kPipe;
  int termAfterUs = -1;                      // SIGTERM this long after the start
  long termAfterOutBytes = -1;               // SIGTERM once this much output was read
  int watchdogSeconds = 120;                 // SIGKILL after this: the run hung
  // A busy printer: once this much output was read, nothing more is read
  // for stallMs (the filter blocks in a full pipe of pipeBytes), and
  // SIGTERM goes out termInStallMs into that pause.
  long stallAfterOutBytes = -1;
  int stallMs = 0;
  int termInStallMs = -1;
  int pipeBytes = 65536;
  long addressSpaceLimit = 0;                // RLIMIT_AS of the filter, bytes (0: none)
};

struct Outcome {
  int status = -1;       // exit status; -1 when it died by a signal
  int signal = 0;        // the signal that ended it
  bool hung = false;     // the watchdog had to kill it
  bool termSent = false;
  long outAtTerm = -1;   // output bytes read when SIGTERM went out
  std::string out;
  std::string err;
};

Outcome RunFilter(const Launch& launch);

std::string RasterFilter();   // path of rastertoLumora
std::string PsFilter();       // path of pstoLumora

// A raster job of `pages` pages of w x h points at 600 dpi with some ink.
std::string MakeRasterJob(const std::string& path, int pages, unsigned w = 144, unsigned h = 144,
                          unsigned copies = 1);
// A PostScript job of `pages` pages as a PPD's JCL wraps it, each page
// padded with comment lines to about `pageBytes` bytes.
std::string PsJobText(int pages, size_t pageBytes = 200);
// The same job as a PDF (ghostscript's pdfwrite); empty on failure.
bool MakePdfJob(const std::string& psPath, const std::string& pdfPath);
// A PPD of a PostScript queue with the given nickname.
std::string PsPpdText(const std::string& nickname);

// The queues used by the tests.
extern const char kRasterModelZ[];   // PLATFORM_Z, automatic duplex
extern const char kRasterModelC[];
extern const char kRasterModelM[];
extern const char kMapleNick[];
extern const char kPlainNick[];
extern const char kLarchNick[];

// A tmpfs of `kib` KiB mounted on a fresh directory (root only); unmounted
// and removed when it goes. ok() is false where mounting is not allowed.
class TinyTmpfs {
 public:
  explicit TinyTmpfs(const std::string& parent, unsigned kib);
  ~TinyTmpfs();
  TinyTmpfs(const TinyTmpfs&) = delete;
  TinyTmpfs& operator=(const TinyTmpfs&) = delete;
  bool ok() const { return mounted_; }
  // The folder to use as TMPDIR (the mount point holds the filler too).
  std::string tmpdir() const { return path_ + "/tmp"; }
  // Fills the file system until only about `bytes` bytes are free.
  void LeaveFree(size_t bytes);

 private:
  std::string path_;
  bool mounted_ = false;
  int fills_ = 0;
};

// The filters' "ERROR:" lines.
std::vector<std::string> ErrorLines(const std::string& err);

}  // namespace lumora::test::faults
