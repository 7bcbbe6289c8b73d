#include "page_loop.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cups_binding.h"
#include "halftone/halftone.h"
#include "job_settings.h"
#include "manual_duplex.h"
#include "paper_tables.h"
#include "rotate.h"
#include "stream/band_image.h"
#include "stream/commands.h"
#include "stream/job_state.h"
#include "stream/output_sink.h"
#include "stream/stage_times.h"

volatile sig_atomic_t Canceled = 0;

namespace {

// Descriptor the keep-alive filler is written to (the device stream).
volatile sig_atomic_t gKeepAliveFd = 1;

constexpr uint32_t kMaxRecordValue = 0xFFFF;  // image sizes travel as 16-bit fields

struct FreeDeleter {
  void operator()(uint8_t* p) const { free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Seconds/milliseconds that tests may shorten through the environment.
long EnvNumber(const char* name, long fallback) {
  const char* v = getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  char* end = nullptr;
  long n = strtol(v, &end, 10);
  return (end != nullptr && *end == '\0' && n >= 0) ? n : fallback;
}

void StartKeepAliveTimer() {
  struct sigaction sa {};
  sa.sa_handler = SendDummyCommand;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGALRM, &sa, nullptr);
  const long ms = EnvNumber("LUMORA_KEEPALIVE_INTERVAL_MS", 10000);
  struct itimerval timer {};
  timer.it_value.tv_sec = ms / 1000;
  timer.it_value.tv_usec = (ms % 1000) * 1000;
  timer.it_interval = timer.it_value;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void StopKeepAliveTimer() {
  struct itimerval timer {};
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// A failed step: its text goes in front of the older failure text, and the
// whole text is written into the job stream.
void ReportStep(const char* text) {
  PrependLastError(text);
  WriteToDevice(prntLastError, strlen(prntLastError));
}

void FlushOutput() { fflush(SinkOutput()); }

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

// Paper lookup and resolution. Returns false when the page cannot be
// represented in the printer's records (absurd or zero page sizes).
bool ComputeGeometry(JobSettings& s, cups_page_header2_t& header, ppd_file_t* ppd,
                     PageGeometry& g) {
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
    // A custom size: the page less the PPD's custom margins (left, bottom,
    // right, top), in pixels at 600 dpi, width to 32 and height to 8.
    const float* m = ppd->custom_margins;
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

// Rows screened at a time when a page is screened as it is read: a multiple
// of the period of every threshold matrix (16, 28 and 96 rows), so that
// each piece starts on the matrix's first row and the dots are those of the
// whole page screened at once.
constexpr uint32_t kScreenRows = 1344;

// The three buffers of a page: a raster line, the 8-bit rows (the whole
// page, or a piece of kScreenRows when it is screened as read) and the
// packed printer image.
struct PageBuffers {
  Buffer line, page, mono;
  size_t rows = 0;

  bool Allocate(const cups_page_header2_t& header, uint32_t width, uint32_t height,
                bool twoBits, bool screenAsRead) {
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t monoBytes = (twoBits ? 2 * pixels : pixels) / 8;
    rows = screenAsRead ? std::min<uint32_t>(height, kScreenRows) : height;
    line.reset(static_cast<uint8_t*>(
        malloc(std::max<size_t>({header.cupsBytesPerLine, width, 1}))));
    page.reset(static_cast<uint8_t*>(malloc(std::max<size_t>(rows * width, 1))));
    // Zeroed by the allocator: untouched memory is never faulted in.
    mono.reset(static_cast<uint8_t*>(calloc(monoBytes > 0 ? monoBytes : 1, 1)));
    return line && page && mono;
  }
};

// Reads the next raster line into a page row of imageWidth bytes: a wider
// line centre-cropped (through the line buffer), a narrower one read
// straight into the row and padded with white. Returns false when the line
// cannot be read; the row then holds what the page gets for it: white, or
// after a cancel the line buffer's white start and whatever the failed read
// left beyond the image width (zero where it wrote nothing).
bool ReadPageRow(cups_raster_t* ras, uint32_t bpl, uint32_t imageWidth, uint8_t* line,
                 uint8_t* row) {
  if (bpl <= imageWidth) {
    if (pfcupsRasterReadPixels(ras, row, bpl) == 0) {
      memset(row, 0xFF, imageWidth);
      return false;
    }
    if (bpl < imageWidth) memset(row + bpl, 0xFF, imageWidth - bpl);
    return true;
  }
  // A line read fills all bpl bytes; a line that could not be read (end of
  // the stream, or a read cut by cancellation) is white. The buffer is not
  // cleared first: a header may announce lines of gigabytes that never come.
  if (pfcupsRasterReadPixels(ras, line, bpl) == 0) {
    memset(row, 0xFF, imageWidth);
    return false;
  }
  memcpy(row, line + (bpl - imageWidth) / 2, imageWidth);
  return true;
}

// Reads and drops the lines of a page that is not printed.
void SkipPageLines(cups_raster_t* ras, const cups_page_header2_t& header) {
  // Not cleared: only what the stream really holds is ever written to it.
  Buffer line(static_cast<uint8_t*>(malloc(std::max<uint32_t>(header.cupsBytesPerLine, 1))));
  if (!line) return;
  for (uint32_t y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (pfcupsRasterReadPixels(ras, line.get(), header.cupsBytesPerLine) == 0) break;
  }
}

}  // namespace

void CancelJob(int) { Canceled = 1; }

void SendDummyCommand(int) {
  if (g_ismiddlepage == 0) {
    static const char filler[2] = {0, 0};
    ssize_t r = write(gKeepAliveFd, filler, sizeof(filler));
    (void)r;
  }
}

void ResetRasterJob() {
  Canceled = 0;
  ResetJobState();
  ResetOutputSink();
}

int RasterToLumoraJob(int argc, char* argv[]) {
  InitCUPSIMAGEDLL();
  InitCUPSDLL();
  JobSettings s;
  g_ismiddlepage = 1;
  setbuf(stderr, nullptr);

  if (argc < 6 || argc > 7) {
    fputs("ERROR: job-id user title copies options [file]\n", stderr);
    return 1;
  }

  int fd = 0;
  if (argc == 7) {
    fd = open(argv[6], O_RDONLY);
    if (fd < 0) {
      perror("ERROR: Unable to open raster file - ");
      sleep(1);
      return 1;
    }
  }

  cups_raster_t* ras = pfcupsRasterOpen(fd, CUPS_RASTER_READ);
  Canceled = 0;
  {
    struct sigaction sa {};
    sa.sa_handler = CancelJob;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
  }

  ppd_file_t* ppd = nullptr;
  const char* ppdPath = getenv("PPD");
  auto closeInput = [&]() {
    if (ras != nullptr) pfcupsRasterClose(ras);
    ras = nullptr;
    if (fd > 0) close(fd);
    fd = 0;
  };

  if (ppdPath == nullptr || *ppdPath == '\0') {
    fputs("ERROR: No PPD file for this queue (PPD is not set).\n", stderr);
    closeInput();
    CloseCUPSDLLs();
    return 1;
  }
  ppd = pfppdOpenFile(ppdPath);
  if (ppd == nullptr) {
    fprintf(stderr, "ERROR: Unable to open the PPD file \"%s\".\n", ppdPath);
    closeInput();
    CloseCUPSDLLs();
    return 1;
  }
  if (ppd->modelname == nullptr || ppd->modelname[0] == '\0') {
    fprintf(stderr, "ERROR: The PPD file \"%s\" has no model name.\n", ppdPath);
    pfppdClose(ppd);
    closeInput();
    CloseCUPSDLLs();
    return 1;
  }
  snprintf(gPPDFile, sizeof(gPPDFile), "%s", ppd->modelname);
  g_page = 0;
  int jobCopies = 1;

  gKeepAliveFd = fileno(SinkOutput());
  cups_page_header2_t header {};
  // The header of the last page printed: what the blank back sides are made
  // from (a header read that finds no more pages clears `header`).
  cups_page_header2_t lastHeader {};
  PrntPageInfo pageInfo;
  bool ioFailure = false;
  bool mdFilesOpen = false;

  if (ras == nullptr) {
    // An empty or unreadable raster stream holds no page.
    fputs("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n", stderr);
    goto cleanup;
  }

  for (;;) {
    if (pfcupsRasterReadHeader2(ras, &header) == 0) {
      fputs("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n", stderr);
      if (g_page == 0) goto cleanup;
      goto jobend;
    }
    fputs("DEBUG: cupsRasterReadHeader2 return OK.\n", stderr);
    log_page_header2(&header);
    if (Canceled) {
      if (g_page > 0) goto jobend;
      goto cleanup;
    }

    ++g_page;

    GatherJobSettings(s, ppd, gPPDFile, argv[5], &header);
    const int platform = s.platform;
    if (platform == PLATFORM_NONE) {
      // Neither the model name nor a PlatForm entry names a printer family:
      // nothing this filter could send would print.
      fprintf(stderr,
              "ERROR: The PPD's model \"%s\" is not a printer this filter drives; nothing "
              "is printed.\n",
              gPPDFile);
      ioFailure = true;
      goto cleanup;
    }

    PageGeometry geo;
    if (!ComputeGeometry(s, header, ppd, geo)) {
      fprintf(stderr,
              "ERROR: Page %d is %ux%u points, a size this printer cannot print; "
              "the page is skipped.\n",
              g_page, header.PageSize[0], header.PageSize[1]);
      SkipPageLines(ras, header);
      --g_page;
      continue;
    }
    uint32_t imageWidth = geo.imageWidth;
    uint32_t imageHeight = geo.imageHeight;

    // The page's buffers come before anything of the page is sent: a page
    // that cannot have them is skipped whole, and the job goes on.
    const uint16_t a5Code = platform == PLATFORM_C ? 6 : 11;
    const uint16_t longEdgeFlag =
        s[FN_FeedLongEdge] == 1 && geo.paperCode == a5Code ? 0x40 : 0;
    const int rotate = DecideRotate180(s, g_page, longEdgeFlag);
    // A page that is not turned is screened while it is read, a piece of
    // rows at a time, and never held whole in 8 bits.
    const bool screenAsRead = rotate != 1 && longEdgeFlag != 0x40 && imageWidth % 8 == 0;
    PageBuffers buffers;
    if (!buffers.Allocate(header, imageWidth, imageHeight, s.dpi1200M != 0, screenAsRead)) {
      fprintf(stderr,
              "ERROR: Page %d cannot be printed: not enough memory for its %ux%u image; "
              "the page is skipped.\n",
              g_page, imageWidth, imageHeight);
      SkipPageLines(ras, header);
      --g_page;
      continue;
    }
    fprintf(stderr, "PAGE: %d %d\n", g_page, header.NumCopies);
    lastHeader = header;

    if (g_page == 1) {
      jobCopies = static_cast<int>(header.NumCopies);
      if (platform == PLATFORM_C || platform == PLATFORM_Z) StartKeepAliveTimer();

      PrntDocInfo doc;
      doc.jobId = atoi(argv[1]);
      // First 32 bytes of the title, zero-padded (no terminator needed).
      memcpy(doc.jobTitle, argv[3], strnlen(argv[3], sizeof(doc.jobTitle)));
      if (platform == PLATFORM_Z && s.supportManualDuplex == 1 && s[FN_ManualDuplex] == 1)
        doc.duplexFlag = 0;
      else if (s[FN_Duplex] != 0 || s[FN_ManualDuplex] == 1)
        doc.duplexFlag = 0x20;
      doc.fineMode = s[FN_FineMode] == 1 ? 1 : 0;
      doc.platformFlag = platform == PLATFORM_M ? 0 : 0x10;
      doc.density = s[FN_TonerMode] == 1 ? 0 : static_cast<uint8_t>(s[FN_Density] & 0xFF);

      g_ismiddlepage = 1;
      if (!Prnt_StartDoc(&doc, platform)) ReportStep("main() :: Start doc Fail ! \n");
      FlushOutput();
      g_ismiddlepage = 0;

      if (s[FN_Collate] == 1 && header.NumCopies > 1 && !CreateCollateFile()) {
        ioFailure = true;
        goto cleanup;
      }
      if (s[FN_ManualDuplex] == 1) {
        if (!CreateManualDuplexFiles()) {
          ioFailure = true;
          goto cleanup;
        }
        mdFilesOpen = true;
      }
    } else if (s[FN_ManualDuplex] == 1 && !mdFilesOpen) {
      // Duplex asked for only from this page on: hold the back sides from
      // here; the pages before were printed one-sided already.
      if (!CreateManualDuplexFiles()) {
        ioFailure = true;
        goto jobend;
      }
      mdFilesOpen = true;
    }

    if (s[FN_ManualDuplex] == 1) RouteManualDuplexPage(g_page);

    // The page record.
    pageInfo = PrntPageInfo();
    pageInfo.paperSize = geo.paperCode;
    pageInfo.mediaType = static_cast<uint16_t>(header.cupsMediaType);
    int hRes = geo.hResolution;
    int vRes = geo.vResolution;
    if (platform == PLATFORM_C || platform == PLATFORM_Z) {
      hRes /= 10;
      vRes /= 10;
    }
    pageInfo.hResolution = static_cast<uint16_t>(hRes);
    pageInfo.vResolution = static_cast<uint16_t>(vRes);
    if (header.cupsMediaType == 0 || header.cupsMediaType == 5 ||
        (header.cupsMediaType == 1 && platform == PLATFORM_M))
      pageInfo.inputSlot = static_cast<uint16_t>(s[FN_InputSlot]);
    else
      pageInfo.inputSlot = 1;
    pageInfo.longEdgeFlag = longEdgeFlag;
    pageInfo.copies = static_cast<uint16_t>(s[FN_Collate] == 1 ? 1 : header.NumCopies);
    pageInfo.paperParam1 = geo.paperParam1;
    pageInfo.paperParam2 = geo.paperParam2;
    pageInfo.pageNumber = static_cast<uint16_t>(g_page);
    pageInfo.paperWidth =
        static_cast<uint16_t>(std::trunc(header.PageSize[0] / 72.0 * header.HWResolution[0]));
    pageInfo.paperHeight =
        static_cast<uint16_t>(std::trunc(header.PageSize[1] / 72.0 * header.HWResolution[1]));
    pageInfo.imageWidth = static_cast<uint16_t>(imageWidth);
    pageInfo.imageHeight = static_cast<uint16_t>(imageHeight);
    pageInfo.dpi1200 = s.dpi1200M;
    pageInfo.pageDensity = static_cast<uint8_t>(s[FN_TonerMode] == 1 ? 0 : s[FN_Density]);
    if (pageInfo.longEdgeFlag == 0x40) {
      pageInfo.paperSize = platform == PLATFORM_C ? 6 : (platform == PLATFORM_Z ? 18 : 61);
      SwapUSHORT(&pageInfo.paperWidth, &pageInfo.paperHeight);
      SwapUSHORT(&pageInfo.imageWidth, &pageInfo.imageHeight);
    }

    g_ismiddlepage = 1;
    if (!Prnt_StartPage(&pageInfo, platform)) ReportStep("main() :: Start page Fail ! \n");
    FlushOutput();
    g_ismiddlepage = 0;

    {
      const size_t pixels = static_cast<size_t>(imageWidth) * imageHeight;
      const uint32_t bpl = header.cupsBytesPerLine;
      const bool timing = StageTimesEnabled();
      const size_t bufferRows = buffers.rows;
      Buffer line = std::move(buffers.line);
      Buffer page = std::move(buffers.page);
      Buffer mono = std::move(buffers.mono);

      // The image record for the encoder (again after turning).
      PrntBandInfo band;
      auto DescribeImage = [&](PrntBandInfo& b) {
        b = PrntBandInfo();
        b.imageFormat = 0;
        b.imageFlags1 = 0;
        b.imageFlags2 = 0;
        b.imageFlags3 = 0x20;
        b.width = static_cast<uint16_t>(s.dpi1200M ? 2 * imageWidth : imageWidth);
        b.height = static_cast<uint16_t>(imageHeight);
        if (platform == PLATFORM_C) {
          b.lineWidth = static_cast<uint16_t>(imageWidth);
          b.stripeLines = header.HWResolution[0] == 600 ? 768 : 384;
          b.dataLength = 853;
        }
        b.image = mono.get();
      };
      // A page screened as it is read is compressed on other threads as its
      // rows become final; a page that is not sent stops them.
      struct PipelineGuard {
        ~PipelineGuard() { StopPipelinedCompression(); }
      } pipelineGuard;
      if (screenAsRead) {
        DescribeImage(band);
        StartPipelinedCompression(&band, platform);
      }

      uint32_t limit = header.cupsBytesPerLine;
      const size_t monoRowBytes = s.dpi1200M ? imageWidth / 4 : imageWidth / 8;
      uint64_t screenNs = 0;
      // Screens rows [first, first + count) held at the start of the buffer.
      auto screenPiece = [&](uint32_t first, uint32_t count) {
        const uint64_t t0 = timing ? StageClockNs() : 0;
        // One DEBUG line per page, as for a page screened in one go.
        (first == 0 ? HalftoneDither : HalftoneDitherRows)(
            page.get(), static_cast<int>(imageWidth), count, mono.get() + first * monoRowBytes,
            limit, s[FN_NegativePrint], s[FN_DPI1200], platform);
        if (timing) screenNs += StageClockNs() - t0;
        if (screenAsRead) CompressionRowsReady(first + count);
      };

      // The page's lines: wider lines are centre-cropped, narrower ones
      // left-aligned on white, lines past the image read and dropped; the
      // rows after the last line read are white.
      const uint64_t readStart = timing ? StageClockNs() : 0;
      uint32_t rows = 0;  // image rows filled so far
      for (uint32_t y = 0; y < header.cupsHeight; ++y) {
        if (Canceled) break;
        if (y % 128 == 0)
          fprintf(stderr, "INFO: Printing page %d, %d%% complete...\n", g_page,
                  static_cast<int>(static_cast<uint64_t>(y) * 100 / header.cupsHeight));
        if (y >= imageHeight) {
          if (pfcupsRasterReadPixels(ras, line.get(), bpl) == 0) break;
          continue;
        }
        uint8_t* row = page.get() + static_cast<size_t>(y % bufferRows) * imageWidth;
        const bool ok = ReadPageRow(ras, bpl, imageWidth, line.get(), row);
        rows = y + 1;
        if (screenAsRead && (rows % bufferRows == 0 || rows == imageHeight)) {
          const uint32_t held = (rows - 1) % bufferRows + 1;
          screenPiece(rows - held, held);
        }
        if (!ok) break;
      }
      if (screenAsRead) {
        while (rows < imageHeight) {
          const uint32_t inBuffer = rows % bufferRows;
          const uint32_t count = std::min<uint32_t>(bufferRows - inBuffer, imageHeight - rows);
          memset(page.get() + static_cast<size_t>(inBuffer) * imageWidth, 0xFF,
                 static_cast<size_t>(count) * imageWidth);
          rows += count;
          if (rows % bufferRows == 0 || rows == imageHeight)
            screenPiece(rows - (inBuffer + count), inBuffer + count);
        }
      } else if (rows < imageHeight) {
        memset(page.get() + static_cast<size_t>(rows) * imageWidth, 0xFF,
               static_cast<size_t>(imageHeight - rows) * imageWidth);
      }
      if (timing) {
        StageAdd(STAGE_READ, StageClockNs() - readStart - screenNs);
        StageAdd(STAGE_SCREEN, screenNs);
      }

      if (platform == PLATFORM_M && Canceled) goto cleanup;

      fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_page, rotate);
      if (!screenAsRead) {
        {
          StageTimer turnTimer(STAGE_TURN);
          if (rotate == 1 && !Rotate180(page.get(), imageWidth, imageHeight))
            ReportStep("main() :: Rotate 180 Fail. \n");
          if (pageInfo.longEdgeFlag == 0x40) {
            if (Rotate90(page.get(), imageWidth, imageHeight)) {
              SwapUINT(&imageWidth, &imageHeight);
            } else {
              // Without its scratch image the page cannot be turned; send it
              // white in the size announced rather than a garbled image.
              ReportStep("main() :: Rotate 90 Fail. \n");
              SwapUINT(&imageWidth, &imageHeight);
              memset(page.get(), 0xFF, pixels);
            }
            limit = header.cupsHeight;
          }
        }
        screenPiece(0, imageHeight);
      }
      // The 8-bit rows are no longer needed while the page is compressed.
      page.reset();
      line.reset();

      DescribeImage(band);

      const uint64_t sendStart = timing ? StageClockNs() : 0;
      const uint64_t compressBefore = StageTotal(STAGE_COMPRESS);
      g_ismiddlepage = 1;
      if (!Prnt_SendPage(&band, platform)) ReportStep("main() :: Send page Fail!\n");
      FlushOutput();

      PrntPageEndInfo end;
      end.pageNumber = g_page;
      end.duplex = s[FN_Duplex] != 0 ? 1 : 0;
      end.resolution = static_cast<int32_t>(header.HWResolution[0]);
      end.paperWidthMm = static_cast<int32_t>(static_cast<float>(header.PageSize[0]) / 72.0 * 25.4);
      end.density = s[FN_Density];
      if (!Prnt_EndPage(&end, platform)) ReportStep("main() :: End page Fail ! \n");
      FlushOutput();
      g_ismiddlepage = 0;
      if (timing) {
        StageAdd(STAGE_WRITE, StageClockNs() - sendStart -
                                  (StageTotal(STAGE_COMPRESS) - compressBefore));
        StageReportPage(g_page);
      }
    }

    if (gDeviceWriteFailed) {
      fputs("ERROR: Unable to send print data to the printer; the job is stopped.\n", stderr);
      ioFailure = true;
      goto cleanup;
    }
    if (gSpoolWriteFailed) {
      fputs("ERROR: Unable to write the temporary spool file (disk full?); the job is stopped.\n",
            stderr);
      ioFailure = true;
      goto jobend;
    }
    if (Canceled) goto jobend;
    FlushOutput();
    g_ismiddlepage = 0;
  }

jobend:
  if (gSpoolWriteFailed) {
    // Nothing is held back any more: what is left goes to the device.
    CloseSpoolFiles();
    gSendDataToDevice = 1;
  }
  if (s[FN_Duplex] != 0 && g_page % 2 == 1) InsertBlankPage(lastHeader, &pageInfo, s.platform);
  g_ismiddlepage = 1;
  if (!Canceled && !ioFailure) {
    if (s[FN_Collate] == 1 && jobCopies > 1 && s[FN_ManualDuplex] != 1)
      ReplayCollate(jobCopies, &Canceled);
    if (s[FN_ManualDuplex] == 1) {
      fprintf(stderr, "INFO:%s\n", s.manualDuplexPrompt);
      ReplayManualDuplex(s, jobCopies, lastHeader, &pageInfo, &Canceled);
    }
  }
  FlushOutput();
  if (gSpoolWriteFailed && !ioFailure) {
    fputs("ERROR: Unable to read back the temporary spool file; pages are missing.\n", stderr);
    ioFailure = true;
  }
  g_ismiddlepage = 1;
  {
    PrntDocEndInfo docEnd;
    docEnd.pageCount = g_page;
    docEnd.duplex = s[FN_Duplex] != 0 ? 1 : 0;
    if (!Prnt_EndDoc(&docEnd, s.platform)) ReportStep("main() :: End doc Fail ! \n");
  }
  FlushOutput();
  if (gDeviceWriteFailed && !ioFailure) {
    fputs("ERROR: Unable to send print data to the printer; the job is stopped.\n", stderr);
    ioFailure = true;
  }

cleanup:
  StopKeepAliveTimer();
  if (ppd != nullptr) pfppdClose(ppd);
  ppd = nullptr;
  closeInput();
  CloseSpoolFiles();
  CloseCUPSDLLs();
  if (s[FN_ManualDuplex] == 1) sleep(static_cast<unsigned>(EnvNumber("LUMORA_MANUAL_DUPLEX_PAUSE", 10)));
  g_ismiddlepage = 0;
  if (g_page == 0) {
    fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  if (ioFailure) return 1;
  fputs("INFO: Ready to print.\n", stderr);
  return 0;
}
