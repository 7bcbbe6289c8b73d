// SPDX-License-Identifier: GPL-2.0-or-later
// Inside a raster job: everything one job owns, and the steps of its life
// that the other files of raster/ share. Only raster_job.cpp,
// page_image.cpp, page_order.cpp and manual_duplex.cpp see this; callers
// use RasterJob.
//
// Failures: a step returns false when it failed. What a failure means for
// the job is decided where it happens, once: FailJob logs the ERROR line
// and ends the job (the sink's faults come in through OutputSink::onFault,
// as they happen); StopJob ends it without a failure (a cancel, the last
// page). The printer's failure texts go into the stream through
// ReportStep.
#pragma once

#include <cups/raster.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "command_stream.h"
#include "job_settings.h"
#include "raster_job.h"
#include "records.h"

namespace lumora {

struct FreeDeleter {
  void operator()(uint8_t* p) const { free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Where and how large the page image is.
struct PageGeometry {
  uint32_t imageWidth = 0;
  uint32_t imageHeight = 0;
  uint16_t paperCode = 0;
  uint16_t paperParam1 = 0;
  uint16_t paperParam2 = 0;
  int hResolution = 600;
  int vResolution = 600;
};

// The page being received: its geometry, its buffers, how far its lines
// have come, and its part of the command stream.
struct PageWork {
  PageGeometry geo;
  uint32_t imageWidth = 0;   // turned sizes after a quarter turn
  uint32_t imageHeight = 0;
  uint16_t longEdgeFlag = 0;
  bool rotate = false;       // the half turn of this page
  bool screenAsRead = false;  // screened a piece at a time as lines come
  Buffer line;               // one raster line (cropping, dropped lines)
  Buffer rows;               // 8-bit rows: the whole page or one piece
  Buffer mono;               // the printer image
  size_t bufferRows = 0;
  PrntBandInfo band;         // the image as the encoder gets it
  uint32_t linesIn = 0;      // raster lines received
  uint32_t rowsFilled = 0;   // image rows filled so far
  uint64_t readStart = 0;    // stage times
  uint64_t screenNs = 0;
  bool startHeld = false;    // its page start waits behind earlier pages
  // Last, so that it goes first: its compression threads read `mono`.
  std::unique_ptr<StreamPage> page;
};

// A page read and screened, waiting for its compression and for the pages
// before it: its records are sent in page order once it is done.
struct PendingPage {
  bool started = false;      // its page start went out already
  Buffer mono;               // the printer image the encoder reads
  PrntBandInfo band;
  PrntPageEndInfo end;
  // Its route, held records, dots and compression threads; last, so that
  // the threads are joined before `mono` goes.
  std::unique_ptr<StreamPage> page;
};

// How the job ends, from the gentlest to the hardest: still open; with its
// job end (blank back side, replays, job end records); or without anything
// more for the printer.
enum class JobEnding { kOpen, kFinishStream, kStopWithoutStream };

struct RasterJobState {
  RasterJobState(const PrinterDescription& printerIn, const JobTicket& ticketIn,
                 ByteOutput& device, LogOutput& logIn, JobHooks hooksIn);

  bool Cancelled() const { return cancelRequested || (hooks.cancelled && hooks.cancelled()); }
  int Platform() const { return settings.platform; }
  // Pages begun so far: the number of the page being read.
  int Pages() const { return stream.route.page; }
  bool Open() const { return ending == JobEnding::kOpen; }

  PrinterDescription printer;
  JobTicket ticket;
  JobHooks hooks;
  LogOutput& log;
  CommandStream stream;
  JobSettings settings;
  std::atomic<bool> cancelRequested{false};
  std::mutex pauseMutex;                // Cancel wakes the manual-duplex pause
  std::condition_variable pauseWake;
  JobEnding ending = JobEnding::kOpen;  // moved on by StopJob and FailJob only
  bool failed = false;                  // the filter's status will be 1
  int jobCopies = 1;
  bool duplexFilesOpen = false;  // manual-duplex spool files exist
  cups_page_header2_t header{};      // the page being received
  cups_page_header2_t lastHeader{};  // the last page printed (blank back sides)
  PrntPageInfo pageInfo;             // the last page's record
  std::unique_ptr<PageWork> work;    // the page in progress
  // Pages are compressed in parallel (two threads or more): each page's
  // records wait in `pending` until the pages before them are sent.
  bool parallelPages = false;
  size_t maxPending = 1;
  std::deque<std::unique_ptr<PendingPage>> pending;
};

// The job takes no more pages and ends as `how` says; a harder ending
// given before stays.
void StopJob(RasterJobState& job, JobEnding how);
// A step of the job failed: the first failure logs its ERROR line; the job
// stops as `how` says and ends with status 1.
void FailJob(RasterJobState& job, JobEnding how, const std::string& errorLine);

// Sending pages in order (page_order.cpp). HoldPage parks a screened page;
// SendReadyPages sends the pages at the front whose compression is done,
// and blocks on the oldest while more than `keep` wait; SendAllPages sends
// every page left. A cancel stops them before the next page (the pages
// left are not sent), and so does a device that is gone.
void HoldPage(RasterJobState& job, std::unique_ptr<PageWork> work);
void SendReadyPages(RasterJobState& job, size_t keep);
void SendAllPages(RasterJobState& job);
// Sends the image and page end of a page (serially, or when its turn came).
void SendPageImage(RasterJobState& job, StreamPage& page, PrntBandInfo& band,
                   PrntPageEndInfo& end);
PrntPageEndInfo PageEndRecord(const RasterJobState& job);

// Steps of the page that live in page_image.cpp.
void PrepareLines(RasterJobState& job, PageWork& work);
uint8_t* NextLineBuffer(RasterJobState& job, PageWork& work);
void FinishLine(RasterJobState& job, PageWork& work);
void CompleteImage(RasterJobState& job, PageWork& work);
void TurnAndScreen(RasterJobState& job, PageWork& work);
bool AllocatePageBuffers(const cups_page_header2_t& header, PageWork& work, bool twoBits);

}  // namespace lumora
