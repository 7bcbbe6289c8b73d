// SPDX-License-Identifier: GPL-2.0-or-later
// Pages compressed in parallel, sent in order. A page that has been read
// and screened keeps compressing on its own threads while the job reads the
// next one; its records (page start, image, page end) wait until the pages
// before it are sent, so the stream is the one a single thread writes.
#include <utility>

#include "band_image.h"
#include "commands.h"
#include "job_state.h"

namespace lumora {

namespace {

// A page screened whole after its lines (a turned page) has no compression
// running yet: it starts now, with every row final.
void StartCompression(RasterJobState& job, PageWork& work) {
  if (work.screenAsRead) return;
  StartPipelinedCompression(job.stream, &work.band, job.Platform());
  CompressionRowsReady(job.stream, work.band.height);
}

// Sends a waiting page as the page it is: its number and routing, its dot
// count and its compression threads stand in for the current page's.
void SendHeldPage(RasterJobState& job, PendingPage& held) {
  CommandStream& stream = job.stream;
  const int page = stream.page;
  const int toDevice = stream.sink.sendToDevice;
  const uint32_t coverage = stream.imageCoverage;
  stream.page = held.page;
  stream.sink.sendToDevice = held.sendToDevice;
  stream.SetMiddle(1);
  ReplayCapture(stream, held.held);
  stream.imageCoverage = held.coverage;
  std::swap(stream.encoder, held.encoder);
  SendPageImage(job, held.band, held.end);
  std::swap(stream.encoder, held.encoder);
  stream.page = page;
  stream.sink.sendToDevice = toDevice;
  stream.imageCoverage = coverage;
}

}  // namespace

PrntPageEndInfo PageEndRecord(const RasterJobState& job) {
  PrntPageEndInfo end;
  end.pageNumber = job.stream.page;
  end.duplex = job.settings[FN_Duplex] != 0 ? 1 : 0;
  end.resolution = static_cast<int32_t>(job.header.HWResolution[0]);
  end.paperWidthMm = static_cast<int32_t>(static_cast<float>(job.header.PageSize[0]) / 72.0 * 25.4);
  end.density = job.settings[FN_Density];
  return end;
}

void HoldPage(RasterJobState& job, std::unique_ptr<PageWork> work) {
  StartCompression(job, *work);
  auto held = std::make_unique<PendingPage>();
  held->page = job.stream.page;
  held->started = !work->startHeld;
  held->sendToDevice = job.stream.sink.sendToDevice;
  held->held = std::move(work->held);
  held->mono = std::move(work->mono);
  held->band = work->band;
  held->end = PageEndRecord(job);
  held->coverage = job.stream.imageCoverage;
  held->encoder = std::move(job.stream.encoder);
  job.stream.encoder = NewEncoder();
  job.pending.push_back(std::move(held));
}

bool SendReadyPages(RasterJobState& job, size_t keep) {
  while (!job.pending.empty()) {
    PendingPage& front = *job.pending.front();
    // After a cancel a page whose start went out is finished; the others
    // are not sent.
    const bool cancelled = job.Cancelled();
    if (cancelled && !front.started) break;
    if (!cancelled && job.pending.size() <= keep && !EncoderDone(*front.encoder)) break;
    SendHeldPage(job, front);
    job.pending.pop_front();
    if (job.stream.sink.deviceWriteFailed) return false;
  }
  return true;
}

bool SendAllPages(RasterJobState& job) { return SendReadyPages(job, 0); }

}  // namespace lumora
