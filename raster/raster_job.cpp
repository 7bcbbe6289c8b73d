// SPDX-License-Identifier: GPL-2.0-or-later
// A raster job's life: the page header (settings, job start, page start),
// the page's lines, the page end (turn, screen, compress, send) and the job
// end (blank back side, replays, job end), each a step over the job's own
// state.
#include "raster_job.h"

#include <cups/cups.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "band_image.h"
#include "commands.h"
#include "job_state.h"
#include "manual_duplex.h"
#include "rotate.h"

namespace lumora {

namespace {

constexpr uint32_t kMaxRecordValue = 0xFFFF;  // image sizes travel as 16-bit fields

// Paper lookup and resolution. Returns false when the page cannot be
// represented in the printer's records (absurd or zero page sizes).
bool ComputeGeometry(RasterJobState& job, PageGeometry& g) {
  JobSettings& s = job.settings;
  cups_page_header2_t& header = job.header;
  int index = -1;
  if (s.paperTable != nullptr) {
    isCutThePaper(&header, s.paperTable, s.numOptions, s.options);
    index = GetPaperArrayIndex(header.PageSize, s.paperTable, &s[FN_FeedLongEdge]);
  }
  if (index >= 0) {
    const PaperEntry& e = s.paperTable[index];
    g.imageWidth = static_cast<uint32_t>(e.pixelWidth);
    g.imageHeight = static_cast<uint32_t>(e.pixelHeight);
    g.paperCode = static_cast<uint16_t>(e.paperCode);
    g.paperParam1 = e.paperParam1;
    g.paperParam2 = e.paperParam2;
  } else {
    // A custom size: the page less the custom margins (left, bottom, right,
    // top), in pixels at 600 dpi, width to 32 and height to 8.
    const float* m = job.printer.customMargins;
    double w = std::trunc((static_cast<float>(header.PageSize[0]) - m[0] - m[2]) / 72.0 * 600.0);
    double h = std::trunc((static_cast<float>(header.PageSize[1]) - m[1] - m[3]) / 72.0 * 600.0);
    if (!(w >= 1.0 && h >= 1.0 && w <= kMaxRecordValue && h <= kMaxRecordValue)) return false;
    g.imageWidth = (static_cast<uint32_t>(w) + 31u) / 32u * 32u;
    g.imageHeight = (static_cast<uint32_t>(h) + 7u) / 8u * 8u;
    g.paperCode = s.platform == PLATFORM_C ? 0xFF : 0;
  }
  if (s.platform == PLATFORM_C) {
    if (header.HWResolution[0] == 1200) {
      g.hResolution = 1200;
      g.imageWidth *= 2;
    }
    if (header.HWResolution[1] == 1200) {
      g.vResolution = 1200;
      g.imageHeight *= 2;
    }
  }
  const uint32_t bandWidth = s.dpi1200M ? 2 * g.imageWidth : g.imageWidth;
  const double paperWidth = header.PageSize[0] / 72.0 * header.HWResolution[0];
  const double paperHeight = header.PageSize[1] / 72.0 * header.HWResolution[1];
  return g.imageWidth > 0 && g.imageHeight > 0 && bandWidth <= kMaxRecordValue &&
         g.imageHeight <= kMaxRecordValue && paperWidth <= kMaxRecordValue &&
         paperHeight <= kMaxRecordValue;
}

// The page's geometry, turns and buffers, before anything of it is sent:
// a page that cannot be printed is skipped whole (logged), and the job goes
// on with the others.
std::unique_ptr<PageWork> PlanPage(RasterJobState& job) {
  auto work = std::make_unique<PageWork>();
  if (!ComputeGeometry(job, work->geo)) {
    Logf(job.log,
         "ERROR: Page %d is %ux%u points, a size this printer cannot print; the page is "
         "skipped.\n",
         job.stream.page, job.header.PageSize[0], job.header.PageSize[1]);
    return nullptr;
  }
  const JobSettings& s = job.settings;
  work->imageWidth = work->geo.imageWidth;
  work->imageHeight = work->geo.imageHeight;
  const uint16_t a5Code = s.platform == PLATFORM_C ? 6 : 11;
  work->longEdgeFlag = s[FN_FeedLongEdge] == 1 && work->geo.paperCode == a5Code ? 0x40 : 0;
  work->rotate = DecideRotate180(s, job.stream.page, work->longEdgeFlag);
  // A page that is not turned is screened while it is read, a piece of
  // rows at a time, and never held whole in 8 bits.
  work->screenAsRead =
      work->rotate != 1 && work->longEdgeFlag != 0x40 && work->imageWidth % 8 == 0;
  if (!AllocatePageBuffers(job.header, *work, s.dpi1200M != 0)) {
    Logf(job.log,
         "ERROR: Page %d cannot be printed: not enough memory for its %ux%u image; the page "
         "is skipped.\n",
         job.stream.page, work->imageWidth, work->imageHeight);
    return nullptr;
  }
  return work;
}

// The job record and the job start, before the first page.
void StartDocument(RasterJobState& job) {
  const JobSettings& s = job.settings;
  const int platform = s.platform;
  job.jobCopies = static_cast<int>(job.header.NumCopies);
  if ((platform == PLATFORM_C || platform == PLATFORM_Z) && job.hooks.startKeepAlive)
    job.hooks.startKeepAlive();

  PrntDocInfo doc;
  doc.jobId = atoi(job.ticket.jobId.c_str());
  // First 32 bytes of the title, zero-padded (no terminator needed).
  memcpy(doc.jobTitle, job.ticket.title.data(),
         std::min(job.ticket.title.size(), sizeof(doc.jobTitle)));
  if (platform == PLATFORM_Z && s.supportManualDuplex == 1 && s[FN_ManualDuplex] == 1)
    doc.duplexFlag = 0;
  else if (s[FN_Duplex] != 0 || s[FN_ManualDuplex] == 1)
    doc.duplexFlag = 0x20;
  doc.fineMode = s[FN_FineMode] == 1 ? 1 : 0;
  doc.platformFlag = platform == PLATFORM_M ? 0 : 0x10;
  doc.density = s[FN_TonerMode] == 1 ? 0 : static_cast<uint8_t>(s[FN_Density] & 0xFF);

  job.stream.SetMiddle(1);
  if (!Prnt_StartDoc(job.stream, &doc, platform)) ReportStep(job.stream, "main() :: Start doc Fail ! \n");
  job.stream.SetMiddle(0);
}

// Job start and spool files on the first page; manual-duplex spool files
// when a later page first asks for it. False when the job must stop.
bool PrepareJob(RasterJobState& job) {
  const JobSettings& s = job.settings;
  if (job.stream.page == 1) {
    StartDocument(job);
    if (s[FN_Collate] == 1 && job.header.NumCopies > 1 && !CreateCollateFile(job)) {
      job.failed = true;
      job.ending = JobEnding::kStopWithoutStream;
      return false;
    }
    if (s[FN_ManualDuplex] == 1) {
      if (!CreateManualDuplexFiles(job)) {
        job.failed = true;
        job.ending = JobEnding::kStopWithoutStream;
        return false;
      }
      job.duplexFilesOpen = true;
    }
  } else if (s[FN_ManualDuplex] == 1 && !job.duplexFilesOpen) {
    // Duplex asked for only from this page on: hold the back sides from
    // here; the pages before were printed one-sided already.
    if (!CreateManualDuplexFiles(job)) {
      job.failed = true;
      job.ending = JobEnding::kFinishStream;
      return false;
    }
    job.duplexFilesOpen = true;
  }
  if (s[FN_ManualDuplex] == 1) RouteManualDuplexPage(job, job.stream.page);
  return true;
}

// The page record.
void FillPageInfo(RasterJobState& job, const PageWork& work) {
  const JobSettings& s = job.settings;
  const cups_page_header2_t& header = job.header;
  const int platform = s.platform;
  PrntPageInfo& p = job.pageInfo;
  p = PrntPageInfo();
  p.paperSize = work.geo.paperCode;
  p.mediaType = static_cast<uint16_t>(header.cupsMediaType);
  const int divisor = platform == PLATFORM_C || platform == PLATFORM_Z ? 10 : 1;
  p.hResolution = static_cast<uint16_t>(work.geo.hResolution / divisor);
  p.vResolution = static_cast<uint16_t>(work.geo.vResolution / divisor);
  if (header.cupsMediaType == 0 || header.cupsMediaType == 5 ||
      (header.cupsMediaType == 1 && platform == PLATFORM_M))
    p.inputSlot = static_cast<uint16_t>(s[FN_InputSlot]);
  else
    p.inputSlot = 1;
  p.longEdgeFlag = work.longEdgeFlag;
  p.copies = static_cast<uint16_t>(s[FN_Collate] == 1 ? 1 : header.NumCopies);
  p.paperParam1 = work.geo.paperParam1;
  p.paperParam2 = work.geo.paperParam2;
  p.pageNumber = static_cast<uint16_t>(job.stream.page);
  p.paperWidth = static_cast<uint16_t>(std::trunc(header.PageSize[0] / 72.0 * header.HWResolution[0]));
  p.paperHeight = static_cast<uint16_t>(std::trunc(header.PageSize[1] / 72.0 * header.HWResolution[1]));
  p.imageWidth = static_cast<uint16_t>(work.imageWidth);
  p.imageHeight = static_cast<uint16_t>(work.imageHeight);
  p.dpi1200 = s.dpi1200M;
  p.pageDensity = static_cast<uint8_t>(s[FN_TonerMode] == 1 ? 0 : s[FN_Density]);
  if (p.longEdgeFlag == 0x40) {
    p.paperSize = platform == PLATFORM_C ? 6 : (platform == PLATFORM_Z ? 18 : 61);
    SwapUSHORT(&p.paperWidth, &p.paperHeight);
    SwapUSHORT(&p.imageWidth, &p.imageHeight);
  }
}

void SendPageStart(RasterJobState& job) {
  job.stream.SetMiddle(1);
  if (!Prnt_StartPage(job.stream, &job.pageInfo, job.Platform()))
    ReportStep(job.stream, "main() :: Start page Fail ! \n");
  job.stream.SetMiddle(0);
}

// After a page: a printer that is gone or a spool disk that is full stops
// the job. False when the job must stop.
bool CheckOutput(RasterJobState& job) {
  const OutputSink& sink = job.stream.sink;
  if (!sink.deviceWriteFailed && !sink.spoolWriteFailed) return true;
  if (!job.failed) {
    job.log.Line(sink.deviceWriteFailed
                     ? "ERROR: Unable to send print data to the printer; the job is stopped.\n"
                     : "ERROR: Unable to write the temporary spool file (disk full?); the job is "
                       "stopped.\n");
    job.failed = true;
  }
  job.ending = sink.deviceWriteFailed ? JobEnding::kStopWithoutStream : JobEnding::kFinishStream;
  return false;
}

// Blank back side, replays and job end.
void FinishJobStream(RasterJobState& job) {
  CommandStream& stream = job.stream;
  const JobSettings& s = job.settings;
  if (stream.sink.spoolWriteFailed) {
    // Nothing is held back any more: what is left goes to the device.
    stream.sink.DropSpoolFiles();
    stream.sink.sendToDevice = 1;
  }
  if (s[FN_Duplex] != 0 && stream.page % 2 == 1)
    InsertBlankPage(stream, job.lastHeader, &job.pageInfo, s.platform);
  stream.SetMiddle(1);
  if (!job.Cancelled() && !job.failed) {
    if (s[FN_Collate] == 1 && job.jobCopies > 1 && s[FN_ManualDuplex] != 1) ReplayCollate(job);
    if (s[FN_ManualDuplex] == 1) ReplayManualDuplex(job);
  }
  if (stream.sink.spoolWriteFailed && !job.failed) {
    job.log.Line("ERROR: Unable to read back the temporary spool file; pages are missing.\n");
    job.failed = true;
  }
  // The job end goes to the printer whatever page the job stopped on: a
  // manual-duplex job cancelled (or failed) on a back side still routes its
  // output to the spool files only, and its job end would be lost there.
  stream.sink.sendToDevice = 1;
  stream.SetMiddle(1);
  PrntDocEndInfo docEnd;
  docEnd.pageCount = stream.page;
  docEnd.duplex = s[FN_Duplex] != 0 ? 1 : 0;
  if (!Prnt_EndDoc(stream, &docEnd, s.platform)) ReportStep(stream, "main() :: End doc Fail ! \n");
  if (stream.sink.deviceWriteFailed && !job.failed) {
    job.log.Line("ERROR: Unable to send print data to the printer; the job is stopped.\n");
    job.failed = true;
  }
}

// The pause a filter makes after a manual-duplex job, so that the user can
// turn the stack before the next job comes: skipped after a cancel, and cut
// short by one (Cancel wakes it at once, the cancel hook is polled).
void PauseForTheStack(RasterJobState& job) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPoll = std::chrono::milliseconds(20);
  if (job.hooks.manualDuplexPauseSeconds == 0 || job.Cancelled()) return;
  job.stream.SetMiddle(1);
  const Clock::time_point end = Clock::now() + std::chrono::seconds(job.hooks.manualDuplexPauseSeconds);
  std::unique_lock<std::mutex> lock(job.pauseMutex);
  for (Clock::time_point now = Clock::now(); now < end && !job.Cancelled(); now = Clock::now())
    job.pauseWake.wait_for(lock, std::min<Clock::duration>(end - now, kPoll));
}

}  // namespace

void SendPageImage(RasterJobState& job, PrntBandInfo& band, PrntPageEndInfo& end) {
  CommandStream& stream = job.stream;
  const uint64_t sendStart = stream.stages.enabled() ? StageTimes::ClockNs() : 0;
  const uint64_t compressBefore = stream.stages.Total(STAGE_COMPRESS);
  stream.SetMiddle(1);
  if (!Prnt_SendPage(stream, &band, job.Platform())) ReportStep(stream, "main() :: Send page Fail!\n");
  StopPipelinedCompression(stream);
  if (!Prnt_EndPage(stream, &end, job.Platform())) ReportStep(stream, "main() :: End page Fail ! \n");
  stream.SetMiddle(0);
  if (stream.stages.enabled()) {
    stream.stages.Add(STAGE_WRITE, StageTimes::ClockNs() - sendStart -
                                       (stream.stages.Total(STAGE_COMPRESS) - compressBefore));
    stream.stages.ReportPage(stream.page, job.log);
  }
}

void ReportStep(CommandStream& stream, const char* text) {
  stream.lastError.Prepend(text);
  WriteFailureText(stream);
}

RasterJobState::RasterJobState(const PrinterDescription& printerIn, const JobTicket& ticketIn,
                               ByteOutput& device, LogOutput& logIn, JobHooks hooksIn)
    : printer(printerIn), ticket(ticketIn), hooks(std::move(hooksIn)), log(logIn),
      stream(device, logIn) {
  stream.modelName = printer.modelName;
  if (hooks.middleOfCommand != nullptr) stream.middle = hooks.middleOfCommand;
  stream.threads = hooks.threads;
  // With a second thread, the next page is read while a page compresses;
  // at most `threads` pages wait, one more is being read.
  maxPending = StreamThreadCount(hooks.threads, SIZE_MAX);
  parallelPages = maxPending >= 2;
  stream.clock = hooks.clock;
  stream.hostName = hooks.hostName;
  stream.SetMiddle(1);
}

RasterJob::RasterJob(const PrinterDescription& printer, const JobTicket& ticket,
                     ByteOutput& device, LogOutput& log, JobHooks hooks)
    : state_(std::make_unique<RasterJobState>(printer, ticket, device, log, std::move(hooks))) {}

RasterJob::~RasterJob() {
  if (state_->work) StopPipelinedCompression(state_->stream);
}

PageStart RasterJob::StartPage(const cups_page_header2_t& header) {
  RasterJobState& job = *state_;
  if (job.ending != JobEnding::kOpen) return PageStart::kStop;
  if (job.work) EndPage();  // a page left open ends (its missing lines white)
  if (job.ending != JobEnding::kOpen) return PageStart::kStop;
  job.header = header;
  log_page_header2(&job.header, job.log);
  if (job.Cancelled()) {
    job.ending = job.stream.page > 0 ? JobEnding::kFinishStream : JobEnding::kStopWithoutStream;
    return PageStart::kStop;
  }
  ++job.stream.page;
  GatherJobSettings(job.settings, job.printer, job.ticket.options.c_str(), &job.header, job.log);
  if (job.Platform() == PLATFORM_NONE) {
    // Neither the model name nor a PlatForm entry names a printer family:
    // nothing this job could send would print.
    Logf(job.log,
         "ERROR: The PPD's model \"%s\" is not a printer this filter drives; nothing is "
         "printed.\n",
         job.printer.modelName.c_str());
    job.failed = true;
    job.ending = JobEnding::kStopWithoutStream;
    return PageStart::kStop;
  }
  std::unique_ptr<PageWork> work = PlanPage(job);
  if (!work) {
    --job.stream.page;
    return PageStart::kSkip;
  }
  Logf(job.log, "PAGE: %d %d\n", job.stream.page, job.header.NumCopies);
  job.lastHeader = job.header;
  // Spool files made in the middle of a job must not receive the pages
  // before: those are sent first.
  if (job.settings[FN_ManualDuplex] == 1 && !job.duplexFilesOpen && !SendAllPages(job)) {
    job.ending = JobEnding::kStopWithoutStream;
    return PageStart::kStop;
  }
  if (!PrepareJob(job)) return PageStart::kStop;
  FillPageInfo(job, *work);
  // While pages before it wait, the page's records wait behind them.
  work->startHeld = job.parallelPages && !job.pending.empty();
  if (work->startHeld) job.stream.capture = &work->held;
  SendPageStart(job);
  PrepareLines(job, *work);
  job.work = std::move(work);
  return PageStart::kPrint;
}

bool RasterJob::WantsLines() const {
  const RasterJobState& job = *state_;
  return job.work && job.work->linesIn < job.header.cupsHeight && !job.Cancelled();
}

void RasterJob::WriteLines(const uint8_t* lines, unsigned count) {
  const size_t bpl = state_->header.cupsBytesPerLine;
  for (unsigned i = 0; i < count && WantsLines(); ++i) {
    memcpy(NextLine(), lines + i * bpl, bpl);
    LineRead();
  }
}

uint8_t* RasterJob::NextLine() {
  if (!state_->work) return nullptr;
  return NextLineBuffer(*state_, *state_->work);
}

void RasterJob::LineRead() {
  if (state_->work) FinishLine(*state_, *state_->work);
}

bool RasterJob::EndPage() {
  RasterJobState& job = *state_;
  if (!job.work) return job.ending == JobEnding::kOpen;
  std::unique_ptr<PageWork> work = std::move(job.work);
  CompleteImage(job, *work);
  job.stream.capture = nullptr;
  if (job.Cancelled() && work->startHeld) {
    // Cancelled before anything of this page went out: it is not sent,
    // nor are the pages waiting before it.
    StopPipelinedCompression(job.stream);
    job.ending = JobEnding::kFinishStream;
    return false;
  }
  if (job.Platform() == PLATFORM_M && job.Cancelled()) {
    // PLATFORM_M stops at once after the page start: no page end, no job end.
    StopPipelinedCompression(job.stream);
    job.ending = JobEnding::kStopWithoutStream;
    return false;
  }
  TurnAndScreen(job, *work);
  if (job.parallelPages) {
    HoldPage(job, std::move(work));
    SendReadyPages(job, job.maxPending);
  } else {
    PrntPageEndInfo end = PageEndRecord(job);
    SendPageImage(job, work->band, end);
  }
  work.reset();
  if (!CheckOutput(job)) return false;
  if (job.Cancelled()) {
    job.ending = JobEnding::kFinishStream;
    return false;
  }
  return true;
}

int RasterJob::EndJob() {
  RasterJobState& job = *state_;
  if (job.work) EndPage();
  if (job.ending == JobEnding::kOpen)
    job.ending = job.stream.page > 0 ? JobEnding::kFinishStream : JobEnding::kStopWithoutStream;
  if (job.ending == JobEnding::kFinishStream) {
    // The pages read before the end go out first (after a cancel only one
    // whose start went out), unless the device or the spool disk failed:
    // the job then stops with what was sent.
    if (!job.stream.sink.spoolWriteFailed && !job.stream.sink.deviceWriteFailed)
      SendAllPages(job);
    CheckOutput(job);
  }
  job.pending.clear();
  if (job.ending == JobEnding::kFinishStream) FinishJobStream(job);
  job.ending = JobEnding::kStopWithoutStream;  // ended: nothing more is sent
  CloseSpoolFiles(job);
  if (job.settings[FN_ManualDuplex] == 1) PauseForTheStack(job);
  job.stream.SetMiddle(0);
  if (job.stream.page == 0) {
    if (job.Cancelled() && !job.failed) {
      // Nothing went to the printer and nothing failed: the user's cancel.
      job.log.Line("INFO: The job was cancelled before its first page; nothing was printed.\n");
      return 0;
    }
    job.log.Line("ERROR: No pages found!\n");
    return 1;
  }
  if (job.failed) return 1;
  job.log.Line("INFO: Ready to print.\n");
  return 0;
}

int RasterJob::Pages() const { return state_->stream.page; }

bool RasterJob::ManualDuplex() const { return state_->settings[FN_ManualDuplex] == 1; }

bool RasterJob::Cancelled() const { return state_->Cancelled(); }

void RasterJob::Cancel() {
  RasterJobState& job = *state_;
  std::lock_guard<std::mutex> lock(job.pauseMutex);
  job.cancelRequested = true;
  job.pauseWake.notify_all();
}

}  // namespace lumora
