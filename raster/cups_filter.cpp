// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS filter around a raster job: arguments, the PPD, the raster
// stream, the cancel and keep-alive signals, and the loop that hands the
// raster's pages to the job.
#include "cups_filter.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "raster_reader.h"

namespace lumora {

volatile sig_atomic_t Canceled = 0;
volatile sig_atomic_t g_ismiddlepage = 1;
volatile sig_atomic_t gKeepAliveFd = 1;

namespace {


// Seconds/milliseconds that tests may shorten through the environment.
long EnvNumber(const char* name, long fallback) {
  const char* v = getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  char* end = nullptr;
  long n = strtol(v, &end, 10);
  return (end != nullptr && *end == '\0' && n >= 0) ? n : fallback;
}

// Both handlers restart the calls they interrupt: a signal never cuts a
// read of the raster or a write to the printer.
void InstallHandler(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, nullptr);
}

void StartKeepAliveTimer() {
  InstallHandler(SIGALRM, SendDummyCommand);
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

// A cupsIPPReason text of the PPD, or nothing.
std::optional<std::string> ReasonText(ppd_file_t* ppd, const CupsBinding& cups, const char* key) {
  char text[1024] = {};
  if (cups.pfppdLocalizeIPPReason(ppd, key, nullptr, text, sizeof(text)) == nullptr)
    return std::nullopt;
  return std::string(text);
}

// The queue's default choice of an option (the PPD's *Default line, which
// lpadmin -o writes).
std::optional<std::string> DefaultChoice(ppd_file_t* ppd, const char* key) {
  ppd_option_t* option = ppdFindOption(ppd, key);
  if (option == nullptr) return std::nullopt;
  return std::string(option->defchoice);
}

// The job file (or standard input), closed when it goes.
struct InputFile {
  int fd = 0;
  ~InputFile() {
    if (fd > 0) close(fd);
  }
};

// Reads and drops the lines of a page that is not printed.
void SkipPageLines(RasterReader& ras, const cups_page_header2_t& header) {
  // Not cleared: only what the stream really holds is ever written to it.
  std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[std::max<uint32_t>(header.cupsBytesPerLine, 1)]);
  if (!line) return;
  for (uint32_t y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (ras.ReadPixels(line.get(), header.cupsBytesPerLine) == 0) break;
  }
}

// The copy count of the job file's pages: the copies argument when it asks
// for 2 to 9999 (the scheduler's limit), else what each page header says.
// Only the first filter of a chain is given the job file, so when this
// filter reads one no filter before it has put the count into the headers.
unsigned FileCopies(int argc, char* argv[]) {
  if (argc != 7) return 0;
  char* end = nullptr;
  const long n = strtol(argv[4], &end, 10);
  return end != argv[4] && *end == '\0' && n > 1 && n <= 9999 ? static_cast<unsigned>(n) : 0;
}

// Hands every page of the raster to the job; a page that asks for one copy
// gets fileCopies when that is set.
void FeedPages(RasterReader& ras, RasterJob& job, LogOutput& log,
               unsigned fileCopies) {
  cups_page_header2_t header {};
  for (;;) {
    if (ras.ReadHeader2(&header) == 0) {
      log.Line("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n");
      return;
    }
    log.Line("DEBUG: cupsRasterReadHeader2 return OK.\n");
    if (fileCopies != 0 && header.NumCopies <= 1) header.NumCopies = fileCopies;
    const PageStart start = job.StartPage(header);
    if (start == PageStart::kStop) return;
    if (start == PageStart::kSkip) {
      SkipPageLines(ras, header);
      continue;
    }
    // A line that cannot be read ends the page: the rest of it is white.
    while (job.WantsLines()) {
      if (ras.ReadPixels(job.NextLine(), header.cupsBytesPerLine) == 0) break;
      job.LineRead();
    }
    if (!job.EndPage()) return;
  }
}

// The queue's PPD, opened and described; null (and an ERROR line) when the
// job cannot have one.
std::unique_ptr<PrinterDescription> ReadPrinter(const CupsBinding& cups,
                                                        LogOutput& log) {
  const char* ppdPath = getenv("PPD");
  if (ppdPath == nullptr || *ppdPath == '\0') {
    log.Line("ERROR: No PPD file for this queue (PPD is not set).\n");
    return nullptr;
  }
  ppd_file_t* ppd = cups.pfppdOpenFile(ppdPath);
  if (ppd == nullptr) {
    Logf(log, "ERROR: Unable to open the PPD file \"%s\".\n", ppdPath);
    return nullptr;
  }
  std::unique_ptr<PrinterDescription> printer;
  if (ppd->modelname == nullptr || ppd->modelname[0] == '\0')
    Logf(log, "ERROR: The PPD file \"%s\" has no model name.\n", ppdPath);
  else
    printer = std::make_unique<PrinterDescription>(DescribePrinter(ppd, cups));
  cups.pfppdClose(ppd);
  return printer;
}

JobHooks FilterHooks(const FilterIo& io, const CupsBinding& cups) {
  JobHooks hooks;
  hooks.cancelled = [] { return Canceled != 0; };
  hooks.middleOfCommand = &g_ismiddlepage;
  if (io.handleSignals) hooks.startKeepAlive = StartKeepAliveTimer;
  hooks.manualDuplexPauseSeconds =
      static_cast<unsigned>(EnvNumber("LUMORA_MANUAL_DUPLEX_PAUSE", 10));
  auto tempFd = cups.pfcupsTempFd;
  hooks.createSpool = [tempFd](char* name, int size) { return tempFd(name, size); };
  return hooks;
}

}  // namespace

void CancelJob(int) { Canceled = 1; }

void SendDummyCommand(int) {
  if (g_ismiddlepage == 0) {
    static const char kFiller[2] = {0, 0};
    ssize_t r = write(gKeepAliveFd, kFiller, sizeof(kFiller));
    (void)r;
  }
}

PrinterDescription DescribePrinter(ppd_file_t* ppd, const CupsBinding& cups) {
  PrinterDescription p;
  p.modelName = ppd->modelname != nullptr ? ppd->modelname : "";
  p.platform = ReasonText(ppd, cups, "PlatForm");
  p.supportManualDuplex = ReasonText(ppd, cups, "SupportManualDuplex");
  p.manualDuplexPrompt = ReasonText(ppd, cups, "MDuplex");
  for (int i = 0; i < 4; ++i) p.customMargins[i] = ppd->custom_margins[i];
  ppdMarkDefaults(ppd);
  ppd_choice_t* slot = ppdFindMarkedChoice(ppd, "InputSlot");
  if (slot != nullptr && slot->option != nullptr)
    p.defaultInputSlot = std::string(slot->option->keyword) + "=" + slot->choice;
  p.defaultFeedLongEdge = DefaultChoice(ppd, "FeedLongEdge");
  p.defaultTonerMode = DefaultChoice(ppd, "TonerMode");
  p.defaultImageRotation = DefaultChoice(ppd, "ImageRotation");
  p.defaultNegativePrint = DefaultChoice(ppd, "NegativePrint");
  p.defaultDensity = DefaultChoice(ppd, "Density");
  p.defaultDPI1200 = DefaultChoice(ppd, "DPI1200");
  p.defaultCollate = DefaultChoice(ppd, "Collate");
  p.defaultFineMode = DefaultChoice(ppd, "FineMode");
  p.defaultOutputOrder = DefaultChoice(ppd, "outputorder");
  return p;
}

int RasterToLumoraJob(int argc, char* argv[], const FilterIo& io) {
  CupsBinding cups;
  cups.InitCUPSDLL();
  LogOutput& log = *io.log;
  g_ismiddlepage = 1;
  if (argc < 6 || argc > 7) {
    log.Line("ERROR: job-id user title copies options [file]\n");
    return 1;
  }
  InputFile input;
  if (argc == 7) {
    input.fd = open(argv[6], O_RDONLY);
    if (input.fd < 0) {
      Logf(log, "ERROR: Unable to open raster file - : %s\n", strerror(errno));
      sleep(1);
      return 1;
    }
  }
  std::unique_ptr<RasterReader> ras = RasterReader::Open(input.fd);
  Canceled = 0;
  if (io.handleSignals) InstallHandler(SIGTERM, CancelJob);

  std::unique_ptr<PrinterDescription> printer = ReadPrinter(cups, log);
  if (!printer) return 1;
  gKeepAliveFd = io.deviceFd;
  JobTicket ticket{argv[1], argv[3], argv[5]};
  RasterJob job(*printer, ticket, *io.device, log, FilterHooks(io, cups));
  if (ras)
    FeedPages(*ras, job, log, FileCopies(argc, argv));
  else  // an empty or unreadable raster stream holds no page
    log.Line("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n");
  const int status = job.EndJob();
  if (io.handleSignals) StopKeepAliveTimer();
  return status;
}

}  // namespace lumora
