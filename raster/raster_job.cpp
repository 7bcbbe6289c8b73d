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
    index = GetPaperArrayIndex(header.PageSize, s.paperTable, &s[kFnFeedLongEdge]);
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
    g.paperCode = CustomPaperCode(s.platform);
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
         job.Pages(), job.header.PageSize[0], job.header.PageSize[1]);
    return nullptr;
  }
  const JobSettings& s = job.settings;
  work->imageWidth = work->geo.imageWidth;
  work->imageHeight = work->geo.imageHeight;
  work->longEdgeFlag =
      s[kFnFeedLongEdge] == 1 && work->geo.paperCode == A5PaperCode(s.platform) ? kLongEdgeFlag : 0;
  work->rotate = DecideRotate180(s, job.Pages(), work->longEdgeFlag);
  // A page that is not turned is screened while it is read, a piece of
  // rows at a time, and never held whole in 8 bits.
  work->screenAsRead =
      !work->rotate && work->longEdgeFlag != kLongEdgeFlag && work->imageWidth % 8 == 0;
  if (!AllocatePageBuffers(job.header, *work, s.dpi1200M != 0)) {
    Logf(job.log,
         "ERROR: Page %d cannot be printed: not enough memory for its %ux%u image; the page "
         "is skipped.\n",
         job.Pages(), work->imageWidth, work->imageHeight);
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
  if (platform == PLATFORM_Z && s.supportManualDuplex == 1 && s[kFnManualDuplex] == 1)
    doc.duplexFlag = 0;
  else if (s[kFnDuplex] != 0 || s[kFnManualDuplex] == 1)
    doc.duplexFlag = kDuplexJobFlag;
  doc.fineMode = s[kFnFineMode] == 1 ? 1 : 0;
  doc.platformFlag = platform == PLATFORM_M ? 0 : kPlatformJobFlag;
  doc.density = s[kFnTonerMode] == 1 ? 0 : static_cast<uint8_t>(s[kFnDensity] & 0xFF);

  job.stream.SetMiddle(1);
  if (!Prnt_StartDoc(job.stream, &doc, platform))
    ReportStep(job.stream, job.stream.route, "main() :: Start doc Fail ! \n");
  job.stream.SetMiddle(0);
}

// Job start and spool files on the first page; manual-duplex spool files
// when a later page first asks for it. False when the job must stop.
bool PrepareJob(RasterJobState& job) {
  const JobSettings& s = job.settings;
  if (job.Pages() == 1) {
    StartDocument(job);
    if (s[kFnCollate] == 1 && job.header.NumCopies > 1 && !CreateCollateFile(job)) return false;
    if (s[kFnManualDuplex] == 1 && !CreateManualDuplexFiles(job, JobEnding::kStopWithoutStream))
      return false;
  } else if (s[kFnManualDuplex] == 1 && !job.duplexFilesOpen) {
    // Duplex asked for only from this page on: hold the back sides from
    // here; the pages before were printed one-sided already.
    if (!CreateManualDuplexFiles(job, JobEnding::kFinishStream)) return false;
  }
  if (s[kFnManualDuplex] == 1) RouteManualDuplexPage(job, job.Pages());
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
    p.inputSlot = static_cast<uint16_t>(s[kFnInputSlot]);
  else
    p.inputSlot = 1;
  p.longEdgeFlag = work.longEdgeFlag;
  p.copies = static_cast<uint16_t>(s[kFnCollate] == 1 ? 1 : header.NumCopies);
  p.paperParam1 = work.geo.paperParam1;
  p.paperParam2 = work.geo.paperParam2;
  p.pageNumber = static_cast<uint16_t>(job.Pages());
  p.paperWidth = static_cast<uint16_t>(std::trunc(header.PageSize[0] / 72.0 * header.HWResolution[0]));
  p.paperHeight = static_cast<uint16_t>(std::trunc(header.PageSize[1] / 72.0 * header.HWResolution[1]));
  p.imageWidth = static_cast<uint16_t>(work.imageWidth);
  p.imageHeight = static_cast<uint16_t>(work.imageHeight);
  p.dpi1200 = s.dpi1200M;
  p.pageDensity = static_cast<uint8_t>(s[kFnTonerMode] == 1 ? 0 : s[kFnDensity]);
  if (p.longEdgeFlag == kLongEdgeFlag) {
    p.paperSize = LongEdgeA5PaperCode(platform);
    SwapUSHORT(&p.paperWidth, &p.paperHeight);
    SwapUSHORT(&p.imageWidth, &p.imageHeight);
  }
}

void SendPageStart(RasterJobState& job, StreamPage& page) {
  job.stream.SetMiddle(1);
  if (!Prnt_StartPage(job.stream, page, &job.pageInfo, job.Platform()))
    ReportStep(job.stream, page.route, "main() :: Start page Fail ! \n");
  job.stream.SetMiddle(0);
}

// Blank back side, replays and job end.
void FinishJobStream(RasterJobState& job) {
  CommandStream& stream = job.stream;
  const JobSettings& s = job.settings;
  if (s[kFnDuplex] != 0 && job.Pages() % 2 == 1)
    InsertBlankPage(stream, job.lastHeader, &job.pageInfo, s.platform);
  stream.SetMiddle(1);
  if (!job.Cancelled() && !job.failed) {
    if (s[kFnCollate] == 1 && job.jobCopies > 1 && s[kFnManualDuplex] != 1) ReplayCollate(job);
    if (s[kFnManualDuplex] == 1) ReplayManualDuplex(job);
  }
  // The job end goes to the printer whatever page the job stopped on: a
  // manual-duplex job cancelled (or failed) on a back side still routes its
  // output to the spool files only, and its job end would be lost there.
  stream.route.toDevice = true;
  stream.SetMiddle(1);
  PrntDocEndInfo docEnd;
  docEnd.pageCount = job.Pages();
  docEnd.duplex = s[kFnDuplex] != 0 ? 1 : 0;
  if (!Prnt_EndDoc(stream, &docEnd, s.platform))
    ReportStep(stream, stream.route, "main() :: End doc Fail ! \n");
}

// What a fault of the sink means for the job, decided as it happens.
void OnOutputFault(RasterJobState& job, OutputFault fault) {
  if (fault == OutputFault::kDevice) {
    FailJob(job, JobEnding::kStopWithoutStream,
            "ERROR: Unable to send print data to the printer; the job is stopped.\n");
    return;
  }
  // The spool files are gone: nothing is held back any more, so what the
  // job sends from now on goes to the device; the page in progress ends,
  // then the job end follows.
  job.stream.route.toDevice = true;
  FailJob(job, JobEnding::kFinishStream,
          "ERROR: Unable to write the temporary spool file (disk full?); the job is stopped.\n");
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

void SendPageImage(RasterJobState& job, StreamPage& page, PrntBandInfo& band,
                   PrntPageEndInfo& end) {
  CommandStream& stream = job.stream;
  const uint64_t sendStart = stream.stages.enabled() ? StageTimes::ClockNs() : 0;
  const uint64_t compressBefore = stream.stages.Total(kStageCompress);
  stream.SetMiddle(1);
  if (!Prnt_SendPage(stream, page, &band, job.Platform()))
    ReportStep(stream, page.route, "main() :: Send page Fail!\n");
  StopPipelinedCompression(page);
  if (!Prnt_EndPage(stream, page, &end, job.Platform()))
    ReportStep(stream, page.route, "main() :: End page Fail ! \n");
  stream.SetMiddle(0);
  if (stream.stages.enabled()) {
    stream.stages.Add(kStageWrite, StageTimes::ClockNs() - sendStart -
                                       (stream.stages.Total(kStageCompress) - compressBefore));
    stream.stages.ReportPage(page.number(), job.log);
  }
}

void StopJob(RasterJobState& job, JobEnding how) {
  if (static_cast<int>(how) > static_cast<int>(job.ending)) job.ending = how;
}

void FailJob(RasterJobState& job, JobEnding how, const std::string& errorLine) {
  if (!job.failed) job.log.Line(errorLine.c_str());
  job.failed = true;
  StopJob(job, how);
}

RasterJobState::RasterJobState(const PrinterDescription& printerIn, const JobTicket& ticketIn,
                               ByteOutput& device, LogOutput& logIn, JobHooks hooksIn)
    : printer(printerIn), ticket(ticketIn), hooks(std::move(hooksIn)), log(logIn),
      stream(device, logIn) {
  stream.modelName = printer.modelName;
  stream.sink.onFault = [this](OutputFault fault) { OnOutputFault(*this, fault); };
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
  if (state_->work) StopPipelinedCompression(*state_->work->page);
}

PageStart RasterJob::StartPage(const cups_page_header2_t& header) {
  RasterJobState& job = *state_;
  if (!job.Open()) return PageStart::kStop;
  if (job.work) EndPage();  // a page left open ends (its missing lines white)
  if (!job.Open()) return PageStart::kStop;
  job.header = header;
  log_page_header2(&job.header, job.log);
  if (job.Cancelled()) {
    StopJob(job, job.Pages() > 0 ? JobEnding::kFinishStream : JobEnding::kStopWithoutStream);
    return PageStart::kStop;
  }
  ++job.stream.route.page;
  GatherJobSettings(job.settings, job.printer, job.ticket.options.c_str(), &job.header, job.log);
  if (job.Platform() == PLATFORM_NONE) {
    // Neither the model name nor a PlatForm entry names a printer family:
    // nothing this job could send would print.
    FailJob(job, JobEnding::kStopWithoutStream,
            "ERROR: The PPD's model \"" + job.printer.modelName +
                "\" is not a printer this filter drives; nothing is printed.\n");
    return PageStart::kStop;
  }
  std::unique_ptr<PageWork> work = PlanPage(job);
  if (!work) {
    --job.stream.route.page;
    return PageStart::kSkip;
  }
  Logf(job.log, "PAGE: %d %d\n", job.Pages(), job.header.NumCopies);
  job.lastHeader = job.header;
  // Spool files made in the middle of a job must not receive the pages
  // before: those are sent first.
  if (job.settings[kFnManualDuplex] == 1 && !job.duplexFilesOpen) SendAllPages(job);
  if (!job.Open() || !PrepareJob(job)) return PageStart::kStop;
  FillPageInfo(job, *work);
  // The page's part of the stream goes where the job's goes now; while
  // pages before it wait, its records wait behind them.
  work->page = std::make_unique<StreamPage>(job.stream.route);
  work->startHeld = job.parallelPages && !job.pending.empty();
  if (work->startHeld) work->page->Hold();
  SendPageStart(job, *work->page);
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
  if (!job.work) return job.Open();
  std::unique_ptr<PageWork> work = std::move(job.work);
  CompleteImage(job, *work);
  if (job.Cancelled() && work->startHeld) {
    // Cancelled before anything of this page went out: it is not sent,
    // nor are the pages waiting before it.
    StopPipelinedCompression(*work->page);
    StopJob(job, JobEnding::kFinishStream);
    return false;
  }
  if (job.Platform() == PLATFORM_M && job.Cancelled()) {
    // PLATFORM_M stops at once after the page start: no page end, no job end.
    StopPipelinedCompression(*work->page);
    StopJob(job, JobEnding::kStopWithoutStream);
    return false;
  }
  TurnAndScreen(job, *work);
  if (job.parallelPages) {
    HoldPage(job, std::move(work));
    SendReadyPages(job, job.maxPending);
  } else {
    PrntPageEndInfo end = PageEndRecord(job);
    SendPageImage(job, *work->page, work->band, end);
  }
  work.reset();
  if (job.Open() && job.Cancelled()) StopJob(job, JobEnding::kFinishStream);
  return job.Open();
}

int RasterJob::EndJob() {
  RasterJobState& job = *state_;
  if (job.work) EndPage();
  StopJob(job, job.Pages() > 0 ? JobEnding::kFinishStream : JobEnding::kStopWithoutStream);
  // The pages read before the end go out first (after a cancel only one
  // whose start went out), unless the job failed: it then stops with what
  // was sent.
  if (job.ending == JobEnding::kFinishStream && !job.failed) SendAllPages(job);
  job.pending.clear();
  if (job.ending == JobEnding::kFinishStream) FinishJobStream(job);
  StopJob(job, JobEnding::kStopWithoutStream);  // ended: nothing more is sent
  CloseSpoolFiles(job);
  if (job.settings[kFnManualDuplex] == 1) PauseForTheStack(job);
  job.stream.SetMiddle(0);
  if (job.Pages() == 0) {
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

int RasterJob::Pages() const { return state_->Pages(); }

bool RasterJob::ManualDuplex() const { return state_->settings[kFnManualDuplex] == 1; }

bool RasterJob::Cancelled() const { return state_->Cancelled(); }

void RasterJob::Cancel() {
  RasterJobState& job = *state_;
  std::lock_guard<std::mutex> lock(job.pauseMutex);
  job.cancelRequested = true;
  job.pauseWake.notify_all();
}

}  // namespace lumora
