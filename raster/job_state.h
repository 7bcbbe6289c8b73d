// Inside a raster job: everything one job owns, and the steps of its life
// that the other files of raster/ share. Only raster_job.cpp,
// page_image.cpp and manual_duplex.cpp see this; callers use RasterJob.
#pragma once

#include <cups/raster.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

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

// The page being received: its geometry, its buffers, and how far its
// lines have come.
struct PageWork {
  PageGeometry geo;
  uint32_t imageWidth = 0;   // turned sizes after a quarter turn
  uint32_t imageHeight = 0;
  uint16_t longEdgeFlag = 0;
  int rotate = 0;            // the half turn of this page
  bool screenAsRead = false;  // screened a piece at a time as lines come
  Buffer line;               // one raster line (cropping, dropped lines)
  Buffer page;               // 8-bit rows: the whole page or one piece
  Buffer mono;               // the printer image
  size_t bufferRows = 0;
  PrntBandInfo band;         // the image as the encoder gets it
  uint32_t linesIn = 0;      // raster lines received
  uint32_t rows = 0;         // image rows filled so far
  uint64_t readStart = 0;    // stage times
  uint64_t screenNs = 0;
};

// How the job ends: with its job end (blank back side, replays, job end
// records) or without anything more for the printer.
enum class JobEnding { kOpen, kFinishStream, kStopWithoutStream };

struct RasterJobState {
  RasterJobState(const PrinterDescription& printerIn, const JobTicket& ticketIn,
                 ByteOutput& device, LogOutput& logIn, JobHooks hooksIn);

  bool Cancelled() const { return cancelRequested || (hooks.cancelled && hooks.cancelled()); }
  int Platform() const { return settings.platform; }

  PrinterDescription printer;
  JobTicket ticket;
  JobHooks hooks;
  LogOutput& log;
  CommandStream stream;
  JobSettings settings;
  std::atomic<bool> cancelRequested{false};
  JobEnding ending = JobEnding::kOpen;
  bool failed = false;           // the filter's status will be 1
  int jobCopies = 1;
  bool duplexFilesOpen = false;  // manual-duplex spool files exist
  cups_page_header2_t header{};      // the page being received
  cups_page_header2_t lastHeader{};  // the last page printed (blank back sides)
  PrntPageInfo pageInfo;             // the last page's record
  std::unique_ptr<PageWork> work;    // the page in progress
};

// A failed step: its text goes in front of the failure text, and the whole
// text is written into the job stream.
void ReportStep(CommandStream& stream, const char* text);

// Steps of the page that live in page_image.cpp.
bool PrepareLines(RasterJobState& job, PageWork& work);
uint8_t* NextLineBuffer(RasterJobState& job, PageWork& work);
void FinishLine(RasterJobState& job, PageWork& work);
void CompleteImage(RasterJobState& job, PageWork& work);
void TurnAndScreen(RasterJobState& job, PageWork& work);
bool AllocatePageBuffers(const cups_page_header2_t& header, PageWork& work, bool twoBits);

}  // namespace lumora
