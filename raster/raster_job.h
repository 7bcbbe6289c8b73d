// SPDX-License-Identifier: GPL-2.0-or-later
// One raster job as an object: the printer it is for, where its bytes and
// its log lines go, and the life of a job as method calls. The CUPS filter
// drives it from the raster stream it reads; a printer application drives
// it from its raster callbacks. Nothing here is shared between two jobs, so
// any number of jobs may run at once, one thread each.
//
//   RasterJob job(printer, ticket, device, log, hooks);
//   while (<a page header>) {
//     if (job.StartPage(header) == PageStart::kStop) break;
//     for (<each line, while job.WantsLines()>) job.WriteLines(line, 1);
//     if (!job.EndPage()) break;
//   }
//   int status = job.EndJob();   // blank back side, replays, job end
#pragma once

#include <cups/raster.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "byte_output.h"  // ByteOutput, FdOutput, LogOutput, StderrLog

namespace lumora {

// What the job needs to know of the printer: what the CUPS filter reads from
// the queue's PPD, or a printer application takes from its driver table.
struct PrinterDescription {
  std::string modelName;                          // *ModelName
  std::optional<std::string> platform;            // cupsIPPReason "PlatForm" text
  std::optional<std::string> supportManualDuplex; // cupsIPPReason "SupportManualDuplex" text
  std::optional<std::string> manualDuplexPrompt;  // cupsIPPReason "MDuplex" text
  float customMargins[4] = {0, 0, 0, 0};          // left, bottom, right, top, points
  // The queue's defaults, which a job takes for the options it does not
  // name: the marked InputSlot default as "InputSlot=<choice>", and the
  // default choice of each other option the job settings read from the
  // options. Empty: the queue has no such option.
  std::optional<std::string> defaultInputSlot;
  std::optional<std::string> defaultFeedLongEdge;
  std::optional<std::string> defaultTonerMode;
  std::optional<std::string> defaultImageRotation;
  std::optional<std::string> defaultNegativePrint;
  std::optional<std::string> defaultDensity;
  std::optional<std::string> defaultDPI1200;
  std::optional<std::string> defaultCollate;
  std::optional<std::string> defaultFineMode;
  std::optional<std::string> defaultOutputOrder;  // the "outputorder" option
};

// The job as the scheduler names it.
struct JobTicket {
  std::string jobId;    // decimal text; its number goes into the job records
  std::string title;    // the first 32 bytes go into the job record
  std::string options;  // "key=value key ..." as in a filter's option argument
};

// What the process around the job provides. Every member may stay empty.
struct JobHooks {
  // Polled before and after each page and between lines; true = cancelled.
  std::function<bool()> cancelled;
  // The middle-of-command flag that a keep-alive signal handler reads
  // (nonzero while command bytes are being written); the job keeps its own
  // when none is given.
  volatile sig_atomic_t* middleOfCommand = nullptr;
  // Called once, before the job start is sent, on the dialects that want a
  // keep-alive filler between command groups (PLATFORM_C and PLATFORM_Z).
  std::function<void()> startKeepAlive;
  // Called with the turn-the-stack prompt of a manual-duplex job, right
  // before the back sides are sent (after the "INFO:" line is logged).
  std::function<void(const std::string& prompt)> manualDuplexPrompt;
  // Threads that may compress one page; 0 = LUMORA_THREADS or the cores.
  unsigned threads = 0;
  // Seconds a manual-duplex job waits at its end before it reports (a
  // filter gives the user time to turn the stack; 0 = none). A cancel ends
  // the wait at once, and a cancelled job does not wait.
  unsigned manualDuplexPauseSeconds = 0;
  // Clock and host name for the job records (tests fix them).
  std::function<time_t()> clock;
  std::function<int(char* name, size_t len)> hostName;
  // Creates a temporary file as cupsTempFd does (its name into name, the
  // descriptor returned, -1 on failure); the job unlinks it at once.
  // Default: cupsTempFd, in TMPDIR.
  std::function<int(char* name, int size)> createSpool;
};

enum class PageStart {
  kPrint,  // send the page's lines, then EndPage
  kSkip,   // the page cannot be printed (logged): its lines are dropped
  kStop,   // the job stops here: call EndJob
};

class RasterJobState;

class RasterJob {
 public:
  RasterJob(const PrinterDescription& printer, const JobTicket& ticket, ByteOutput& device,
            LogOutput& log, JobHooks hooks = {});
  ~RasterJob();
  RasterJob(const RasterJob&) = delete;
  RasterJob& operator=(const RasterJob&) = delete;

  // A page header: gathers the page's settings, starts the job on the first
  // page, sends the page start.
  PageStart StartPage(const cups_page_header2_t& header);
  // False once the current page takes no more lines (cancelled).
  bool WantsLines() const;
  // count lines of the page, each header.cupsBytesPerLine bytes.
  void WriteLines(const uint8_t* lines, unsigned count);
  // Zero-copy alternative to WriteLines: the buffer of cupsBytesPerLine
  // bytes to read the next line into, then LineRead() once it holds it.
  uint8_t* NextLine();
  void LineRead();
  // Ends the page: lines not given are white; the page is turned, screened,
  // compressed and sent. False when the job must stop (call EndJob).
  bool EndPage();
  // Ends the job: blank back side, collate and manual-duplex replays, job
  // end. Returns the exit status of a filter (0 printed or cancelled, 1
  // failed or no page at all).
  int EndJob();

  // Pages accepted so far.
  int Pages() const;
  // The job asks for manual duplex (a filter pauses before it exits).
  bool ManualDuplex() const;
  // The job is cancelled (by the hook or by Cancel).
  bool Cancelled() const;
  // Cancels from any thread: the page in progress is finished, the job end
  // follows; a manual-duplex pause in EndJob ends.
  void Cancel();

 private:
  std::unique_ptr<RasterJobState> state_;
};

}  // namespace lumora
