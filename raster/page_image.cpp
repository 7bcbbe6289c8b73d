// SPDX-License-Identifier: GPL-2.0-or-later
// The page image of a raster job: the raster lines into 8-bit rows (wider
// lines centre-cropped, narrower ones left-aligned on white, lines past the
// image dropped, missing ones white), the turns, and the screen into the
// printer image. A page that is not turned is screened while its lines
// come, a piece of rows at a time, and is compressed on other threads as
// its rows become final.
#include <algorithm>
#include <cstring>

#include "band_image.h"
#include "halftone.h"
#include "job_state.h"
#include "rotate.h"

namespace lumora {

namespace {

// Rows screened at a time when a page is screened as it is read: a multiple
// of the period of every threshold matrix (16, 28 and 96 rows), so that
// each piece starts on the matrix's first row and the dots are those of the
// whole page screened at once.
constexpr uint32_t kScreenRows = 1344;

// The gray value of paper left white.
constexpr uint8_t kWhite = 0xFF;

// The image record for the encoder (again after turning).
void DescribeImage(RasterJobState& job, PageWork& work) {
  work.band = PageBandInfo(work.imageWidth, work.imageHeight, job.settings.dpi1200M != 0,
                           job.Platform(), job.header.HWResolution[0], work.mono.get());
}

// Screens rows [first, first + count) held at the start of the row buffer.
void ScreenPiece(RasterJobState& job, PageWork& work, uint32_t first, uint32_t count,
                 uint32_t limit) {
  StageTimes& stages = job.stream.stages;
  const uint64_t t0 = stages.enabled() ? StageTimes::ClockNs() : 0;
  const size_t monoRowBytes = job.settings.dpi1200M ? work.imageWidth / 4 : work.imageWidth / 8;
  ScreenJob screen{job.stream.modelName.c_str(), &work.page->coverage, &job.log};
  HalftoneRequest request;
  request.src = work.rows.get();
  request.width = static_cast<int>(work.imageWidth);
  request.lines = count;
  request.dst = work.mono.get() + first * monoRowBytes;
  request.limit = limit;
  request.negative = job.settings[kFnNegativePrint] != 0;
  request.dpi1200 = job.settings[kFnDpi1200] != 0;
  request.platform = job.Platform();
  // One DEBUG line per page, as for a page screened in one go.
  (first == 0 ? HalftoneDither : HalftoneDitherRows)(screen, request);
  if (stages.enabled()) work.screenNs += StageTimes::ClockNs() - t0;
  if (work.screenAsRead) CompressionRowsReady(*work.page, first + count);
}

// A piece of rows is complete once the buffer is full or the image is.
void ScreenIfPieceDone(RasterJobState& job, PageWork& work) {
  if (!work.screenAsRead) return;
  if (work.rowsFilled % work.bufferRows != 0 && work.rowsFilled != work.imageHeight) return;
  const uint32_t held = (work.rowsFilled - 1) % static_cast<uint32_t>(work.bufferRows) + 1;
  ScreenPiece(job, work, work.rowsFilled - held, held, job.header.cupsBytesPerLine);
}

}  // namespace

bool AllocatePageBuffers(const cups_page_header2_t& header, PageWork& work, bool twoBits) {
  const size_t pixels = static_cast<size_t>(work.imageWidth) * work.imageHeight;
  const size_t monoBytes = (twoBits ? 2 * pixels : pixels) / 8;
  work.bufferRows =
      work.screenAsRead ? std::min<uint32_t>(work.imageHeight, kScreenRows) : work.imageHeight;
  work.line.reset(static_cast<uint8_t*>(
      malloc(std::max<size_t>({header.cupsBytesPerLine, work.imageWidth, 1}))));
  work.rows.reset(
      static_cast<uint8_t*>(malloc(std::max<size_t>(work.bufferRows * work.imageWidth, 1))));
  // Zeroed by the allocator: untouched memory is never faulted in.
  work.mono.reset(static_cast<uint8_t*>(calloc(monoBytes > 0 ? monoBytes : 1, 1)));
  return work.line && work.rows && work.mono;
}

void PrepareLines(RasterJobState& job, PageWork& work) {
  if (work.screenAsRead) {
    DescribeImage(job, work);
    StartPipelinedCompression(job.stream, *work.page, &work.band, job.Platform());
  }
  work.readStart = job.stream.stages.enabled() ? StageTimes::ClockNs() : 0;
}

uint8_t* NextLineBuffer(RasterJobState& job, PageWork& work) {
  const uint32_t y = work.linesIn;
  if (y % 128 == 0)
    Logf(job.log, "INFO: Printing page %d, %d%% complete...\n", job.Pages(),
         static_cast<int>(static_cast<uint64_t>(y) * 100 / job.header.cupsHeight));
  // Lines past the image and wider lines go through the line buffer; the
  // others are read straight into their row.
  if (y >= work.imageHeight || job.header.cupsBytesPerLine > work.imageWidth) return work.line.get();
  return work.rows.get() + static_cast<size_t>(y % work.bufferRows) * work.imageWidth;
}

void FinishLine(RasterJobState& job, PageWork& work) {
  const uint32_t y = work.linesIn++;
  if (y >= work.imageHeight) return;
  const uint32_t bpl = job.header.cupsBytesPerLine;
  uint8_t* row = work.rows.get() + static_cast<size_t>(y % work.bufferRows) * work.imageWidth;
  if (bpl > work.imageWidth)
    memcpy(row, work.line.get() + (bpl - work.imageWidth) / 2, work.imageWidth);
  else if (bpl < work.imageWidth)
    memset(row + bpl, kWhite, work.imageWidth - bpl);
  work.rowsFilled = y + 1;
  ScreenIfPieceDone(job, work);
}

void CompleteImage(RasterJobState& job, PageWork& work) {
  // The rows after the last line read are white.
  if (work.screenAsRead) {
    const uint32_t pieceRows = static_cast<uint32_t>(work.bufferRows);
    while (work.rowsFilled < work.imageHeight) {
      const uint32_t inBuffer = work.rowsFilled % pieceRows;
      const uint32_t count =
          std::min<uint32_t>(pieceRows - inBuffer, work.imageHeight - work.rowsFilled);
      memset(work.rows.get() + static_cast<size_t>(inBuffer) * work.imageWidth, kWhite,
             static_cast<size_t>(count) * work.imageWidth);
      work.rowsFilled += count;
      ScreenIfPieceDone(job, work);
    }
  } else if (work.rowsFilled < work.imageHeight) {
    memset(work.rows.get() + static_cast<size_t>(work.rowsFilled) * work.imageWidth, kWhite,
           static_cast<size_t>(work.imageHeight - work.rowsFilled) * work.imageWidth);
  }
  StageTimes& stages = job.stream.stages;
  if (stages.enabled()) {
    stages.Add(kStageRead, StageTimes::ClockNs() - work.readStart - work.screenNs);
    stages.Add(kStageScreen, work.screenNs);
  }
}

void TurnAndScreen(RasterJobState& job, PageWork& work) {
  Logf(job.log, "DEBUG: ##page is %d, rotate180 is %d\n", job.Pages(), work.rotate ? 1 : 0);
  if (!work.screenAsRead) {
    uint32_t limit = job.header.cupsBytesPerLine;
    {
      StageTimer turnTimer(job.stream.stages, kStageTurn);
      const Route& to = work.page->route;
      if (work.rotate && !Rotate180(work.rows.get(), work.imageWidth, work.imageHeight))
        ReportStep(job.stream, to, "main() :: Rotate 180 Fail. \n");
      if (work.longEdgeFlag == kLongEdgeFlag) {
        if (!Rotate90(work.rows.get(), work.imageWidth, work.imageHeight)) {
          // Without its scratch image the page cannot be turned; send it
          // white in the size announced rather than a garbled image.
          job.stream.lastError.Set("Rotate90() :: malloc memory Fail. \n");
          ReportStep(job.stream, to, "main() :: Rotate 90 Fail. \n");
          memset(work.rows.get(), kWhite, static_cast<size_t>(work.imageWidth) * work.imageHeight);
        }
        std::swap(work.imageWidth, work.imageHeight);
        limit = job.header.cupsHeight;
      }
    }
    ScreenPiece(job, work, 0, work.imageHeight, limit);
  }
  // The 8-bit rows are no longer needed while the page is compressed.
  work.rows.reset();
  work.line.reset();
  DescribeImage(job, work);
}

}  // namespace lumora
