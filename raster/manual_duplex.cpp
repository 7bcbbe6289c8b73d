// SPDX-License-Identifier: GPL-2.0-or-later
#include "manual_duplex.h"

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "commands.h"
#include "job_settings.h"
#include "job_state.h"

namespace lumora {

namespace {

constexpr size_t kCollateChunk = 16384;
constexpr size_t kOddChunk = 4096;
constexpr size_t kEvenChunk = 16384;

// A spool file: created in the temporary directory and unlinked at once;
// the descriptor keeps it alive until it is closed.
int CreateSpool(RasterJobState& job, char* name, int nameSize) {
  const int fd = job.hooks.createSpool ? job.hooks.createSpool(name, nameSize)
                                       : cupsTempFd(name, nameSize);
  if (fd >= 0) unlink(name);
  return fd;
}

// Sends replayed bytes to the device. A sink that refuses them will not
// take them on a second try either (the device is gone, or nothing routes
// to it): false then, and the replay stops.
bool SendToDevice(CommandStream& stream, const uint8_t* data, size_t len) {
  return SendDataToFile(stream, stream.route, data, len, false);
}

// Sends `size` bytes of a spool file from `offset`, chunk by chunk. False
// when the file cannot be read back or the device is gone.
bool ReplayBytes(RasterJobState& job, int fd, uint64_t offset, uint64_t size,
                 std::vector<uint8_t>& buf) {
  while (size > 0) {
    const size_t want = size < buf.size() ? static_cast<size_t>(size) : buf.size();
    const ssize_t n = pread(fd, buf.data(), want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FailJob(job, JobEnding::kFinishStream,
              "ERROR: Unable to read back the temporary spool file; pages are missing.\n");
      return false;
    }
    if (!SendToDevice(job.stream, buf.data(), static_cast<size_t>(n))) return false;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<uint64_t>(n);
  }
  return true;
}

// Sends a spool file from its start, a page at a time (pageSizes: the
// bytes of each page in file order). A cancel stops it between pages, never
// inside one. False when the replay was stopped.
bool ReplayPages(RasterJobState& job, const SpoolFile& file,
                 const std::vector<uint64_t>& pageSizes, size_t chunk) {
  std::vector<uint8_t> buf(chunk);
  uint64_t offset = 0;
  for (uint64_t size : pageSizes) {
    if (job.Cancelled() || !file.open()) return false;
    if (!ReplayBytes(job, file.fd(), offset, size, buf)) return false;
    offset += size;
  }
  return true;
}

// "%s file open fail" into the job stream, the reason in the log, and the
// job fails.
void ReportSpoolOpenFailure(RasterJobState& job, JobEnding how, const char* name) {
  const int error = errno;
  char text[300];
  snprintf(text, sizeof(text), "%s file open fail", name);
  WriteFailureText(job.stream, job.stream.route, text);
  FailJob(job, how,
          std::string("ERROR: Unable to create the temporary file for manual duplex: ") +
              strerror(error) + "\n");
}

// One pass over the back sides: the blank back of an odd last front (before
// or after the others, as outputorder says), then the even pages from the
// last to the first. False when it was stopped (cancel, device gone).
bool ReplayBackSides(RasterJobState& job, std::vector<uint8_t>& buf) {
  CommandStream& stream = job.stream;
  OutputSink& sink = stream.sink;
  const JobSettings& s = job.settings;
  const bool oddCount = job.Pages() % 2 == 1;
  if (oddCount && s[kFnOutputOrder] == 0) {
    if (job.Cancelled()) return false;
    InsertBlankPage(stream, job.lastHeader, &job.pageInfo, s.platform);
  }
  for (long k = job.Pages() / 2 - 1; k >= 0 && sink.evenFile.open(); --k) {
    if (job.Cancelled()) return false;
    const size_t index = static_cast<size_t>(k);
    uint64_t offset = 0;
    for (size_t i = 0; i < index && i < sink.cacheSize.size(); ++i) offset += sink.cacheSize[i];
    const uint64_t size = index < sink.cacheSize.size() ? sink.cacheSize[index] : 0;
    if (!ReplayBytes(job, sink.evenFile.fd(), offset, size, buf)) return false;
  }
  if (oddCount && s[kFnOutputOrder] == 1) {
    if (job.Cancelled()) return false;
    InsertBlankPage(stream, job.lastHeader, &job.pageInfo, s.platform);
  }
  return true;
}

}  // namespace

bool CreateCollateFile(RasterJobState& job) {
  char name[255] = {};
  const int fd = CreateSpool(job, name, sizeof(name));
  if (fd < 0) {
    FailJob(job, JobEnding::kStopWithoutStream,
            std::string("ERROR: Unable to create the temporary file for collated copies: ") +
                strerror(errno) + "\n");
    return false;
  }
  job.stream.sink.collateFile.Reset(fd);
  return true;
}

bool CreateManualDuplexFiles(RasterJobState& job, JobEnding how) {
  OutputSink& sink = job.stream.sink;
  char oddName[255] = {};
  char evenName[255] = {};
  job.stream.route.toDevice = false;
  const int odd = CreateSpool(job, oddName, sizeof(oddName));
  if (odd < 0) {
    ReportSpoolOpenFailure(job, how, oddName);
    return false;
  }
  sink.oddFile.Reset(odd);
  const int even = CreateSpool(job, evenName, sizeof(evenName));
  if (even < 0) {
    ReportSpoolOpenFailure(job, how, evenName);
    return false;
  }
  sink.evenFile.Reset(even);
  job.duplexFilesOpen = true;
  return true;
}

void RouteManualDuplexPage(RasterJobState& job, int page) {
  job.stream.route.toDevice = page % 2 == 1;
}

void ReplayCollate(RasterJobState& job) {
  OutputSink& sink = job.stream.sink;
  if (!sink.collateFile.open()) return;
  for (int copy = 1; copy < job.jobCopies; ++copy) {
    if (!ReplayPages(job, sink.collateFile, sink.collatePageSize, kCollateChunk)) break;
  }
  sink.collateFile.Close();
}

void ReplayManualDuplex(RasterJobState& job) {
  CommandStream& stream = job.stream;
  OutputSink& sink = stream.sink;
  const JobSettings& s = job.settings;
  Logf(job.log, "INFO:%s\n", s.manualDuplexPrompt.c_str());
  if (job.hooks.manualDuplexPrompt) job.hooks.manualDuplexPrompt(s.manualDuplexPrompt);
  const int replayCopies = s[kFnCollate] == 1 ? job.jobCopies : 1;
  stream.route.toDevice = true;

  // Front sides of the remaining copies.
  bool going = true;
  for (int copy = 1; copy < replayCopies && going && sink.oddFile.open(); ++copy)
    going = ReplayPages(job, sink.oddFile, sink.oddPageSize, kOddChunk);
  sink.oddFile.Close();
  if (!going || job.Cancelled()) {
    sink.evenFile.Close();
    return;
  }

  SendManualDuplexCmd(stream, s.platform);

  // Back sides, last page first, so they meet their fronts once the user
  // has turned the stack over. A cancel stops between two back sides.
  std::vector<uint8_t> buf(kEvenChunk);
  for (int copy = 0; copy < replayCopies && going; ++copy) going = ReplayBackSides(job, buf);
  sink.evenFile.Close();
}

void CloseSpoolFiles(RasterJobState& job) { job.stream.sink.DropSpoolFiles(); }

void InsertBlankPage(CommandStream& job, const cups_page_header2_t& header, PrntPageInfo* page,
                     int platform) {
  uint32_t width = page->imageWidth;
  uint32_t height = page->imageHeight;
  const bool twoBits = page->dpi1200 == 1;
  page->pageNumber = static_cast<uint16_t>(job.route.page + 1);
  StreamPage blank(job.route);

  if (!Prnt_StartPage(job, blank, page, platform))
    ReportStep(job, blank.route, "InsertBlankPage() :: Start page Fail ! \n");

  // The page record carries the turned size; the band the unturned one.
  if (page->longEdgeFlag == kLongEdgeFlag) SwapUINT(&width, &height);

  const size_t bytes = static_cast<size_t>(twoBits ? 2 * width : width) * height / 8;
  Buffer image(static_cast<uint8_t*>(calloc(bytes > 0 ? bytes : 1, 1)));
  if (!image) {
    ReportStep(job, blank.route, "InsertBlankPage() :: Send page Fail!\n");
  } else {
    PrntBandInfo band =
        PageBandInfo(width, height, twoBits, platform, header.HWResolution[0], image.get());
    if (!Prnt_SendPage(job, blank, &band, platform))
      ReportStep(job, blank.route, "InsertBlankPage() :: Send page Fail!\n");
  }

  PrntPageEndInfo end;
  end.pageNumber = job.route.page + 1;
  if (!Prnt_EndPage(job, blank, &end, platform))
    ReportStep(job, blank.route, "InsertBlankPage() :: End page Fail ! \n");
}

}  // namespace lumora
