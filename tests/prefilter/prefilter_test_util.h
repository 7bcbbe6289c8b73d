// SPDX-License-Identifier: GPL-2.0-or-later
// Shared helpers of the pre-filter tests: scratch directories, PPDs and real
// jobs made with ghostscript, the job run in-process and as a program.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "memory_output.h"
#include "ps_job.h"
#include "ps_job_state.h"

namespace lumora::test::prefilter {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
std::vector<std::string> ListDir(const std::string& dir);

// A scratch directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A PPD of the given nickname; duplex and feedEdge are default choices of
// the "Duplex" and "FeedEdge" options (none when empty), pageSize the
// default PageSize (a queue without one when empty).
std::string MakePpd(const TempDir& dir, const std::string& nickname, const std::string& duplex = "",
                    const std::string& feedEdge = "", const std::string& pageSize = "A4");

// A PDF of n pages, page k showing "Page k", made by ghostscript.
std::string MakePdf(const TempDir& dir, int pages, const std::string& name = "job.pdf");
// PostScript of n pages of the given size (points) made by ps2write.
std::string MakePs(const TempDir& dir, int pages, int w = 595, int h = 842);
// The PJL lines a PPD's JCL puts around a PostScript job.
std::string WrapPjl(const std::string& ps, const std::string& jobName = "job");

// How a job file closes its PJL job: its last universal exit that opens
// PJL, and what follows (empty without one).
std::string JobClose(const std::string& job);

// A job of 400 pages of about 2.3 KB, each opened by its page comment.
std::string FourHundredPages();
// Number of "%%Page:" comments in text.
int PageComments(const std::string& text);

// How a slow backend meets a cancel: it reads fd 8 KiB at a time; once
// 150 KB came it lets the pipe fill up, notes what the pipe holds and
// cancels the job, then reads on to the end.
struct SlowRead {
  std::string out;
  size_t at = 0;    // bytes read when the job was cancelled
  size_t held = 0;  // bytes the pipe held then
};
SlowRead ReadSlowlyAndCancel(int fd, const std::function<void()>& cancel);

// Result of one job.
struct JobRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs PsToLumoraJob in this process: argv[0] "lumora-q" then args (5 or 6
// entries), input bytes on the input descriptor, PPD as given, TMPDIR set to
// tmpdir. The side-channel threads talk to a line that only counts them.
// pdftops replaces the system converter when given.
JobRun RunJob(const std::vector<std::string>& args, const std::string& input, const std::string& ppd,
              const std::string& tmpdir, bool canceled = false, const std::string& pdftops = "");
// What the job's threads did in the last RunJob.
struct HookLog {
  int statusThreads = 0;
  int keepaliveStarts = 0;
  int keepaliveStops = 0;  // Waitpthread calls
  std::string uri;
  int jobId = 0;
};
extern HookLog gHookLog;

// A log that keeps its lines (from any thread).
class StringLog : public lumora::LogOutput {
 public:
  void Line(const char* text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    text_ += text;
  }
  std::string Text() {
    std::lock_guard<std::mutex> hold(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

// The printer a queue's PPD file describes.
lumora::PsPrinterDescription DescribePpd(const std::string& ppdPath);

// A job's state for calling its steps one by one: the printer from a PPD
// file, the given options and copies, the bytes collected, the log lines on
// standard error. Its temporary files go with it.
struct StepJob {
  explicit StepJob(const std::string& ppd, const std::string& options = "",
                   const std::string& copies = "1", lumora::PsJobHooks hooks = {});
  lumora::PsJobState& operator*() { return *state; }
  lumora::PsPrinterDescription printer;
  MemoryDevice device;
  lumora::StderrLog log;
  std::unique_ptr<lumora::PsJobState> state;
};

// Descriptors 3 and 4 of this process become /dev/null, as under
// cupsfilter: side-channel queries fail at once and no test file lands there.
void ClaimSideChannelFds();

// Captures this process's standard error while alive.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  std::string Stop();

 private:
  int saved_ = -1;
  std::string path_;
};

std::string PstoLumoraPath();
std::string ResponderPath();
std::string ModelsTsvPath();

}  // namespace lumora::test::prefilter
