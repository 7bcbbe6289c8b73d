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
  StartPipelinedCompression(job.stream, *work.page, &work.band, job.Platform());
  CompressionRowsReady(*work.page, work.band.height);
}

// Sends a waiting page: the records it held, then its image and page end,
// all along its own route.
void SendHeldPage(RasterJobState& job, PendingPage& held) {
  StreamPage& page = *held.page;
  page.Release();
  job.stream.SetMiddle(1);
  ReplayCapture(job.stream, page.route, page.held);
  SendPageImage(job, page, held.band, held.end);
}

}  // namespace

PrntPageEndInfo PageEndRecord(const RasterJobState& job) {
  PrntPageEndInfo end;
  end.pageNumber = job.Pages();
  end.duplex = job.settings[kFnDuplex] != 0 ? 1 : 0;
  end.resolution = static_cast<int32_t>(job.header.HWResolution[0]);
  end.paperWidthMm = static_cast<int32_t>(static_cast<float>(job.header.PageSize[0]) / 72.0 * 25.4);
  end.density = job.settings[kFnDensity];
  return end;
}

void HoldPage(RasterJobState& job, std::unique_ptr<PageWork> work) {
  StartCompression(job, *work);
  auto held = std::make_unique<PendingPage>();
  held->started = !work->startHeld;
  held->page = std::move(work->page);
  held->mono = std::move(work->mono);
  held->band = work->band;
  held->end = PageEndRecord(job);
  job.pending.push_back(std::move(held));
}

void SendReadyPages(RasterJobState& job, size_t keep) {
  while (!job.pending.empty() && job.ending != JobEnding::kStopWithoutStream) {
    PendingPage& front = *job.pending.front();
    // After a cancel a page whose start went out is finished; the others
    // are not sent.
    const bool cancelled = job.Cancelled();
    if (cancelled && !front.started) break;
    if (!cancelled && job.pending.size() <= keep && !EncoderDone(*front.page->encoder)) break;
    SendHeldPage(job, front);
    job.pending.pop_front();
  }
}

void SendAllPages(RasterJobState& job) { SendReadyPages(job, 0); }

}  // namespace lumora
