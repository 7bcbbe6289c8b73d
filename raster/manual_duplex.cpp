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

// Sends bytes that the device must get, repeating while the sink reports
// failure, but never forever: a device that is gone stops the replay.
bool SendToDevice(CommandStream& stream, const uint8_t* data, size_t len) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (SendDataToFile(stream, data, len, 0)) return true;
    if (stream.sink.deviceWriteFailed) return false;
  }
  return false;
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
      job.log.Line("ERROR: Unable to read back the temporary spool file; pages are missing.\n");
      job.stream.sink.spoolWriteFailed = true;
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

// "%s file open fail" into the job stream, and the reason in the log.
void ReportSpoolOpenFailure(RasterJobState& job, const char* name) {
  const int error = errno;
  char text[300];
  const int n = snprintf(text, sizeof(text), "%s file open fail", name);
  job.stream.sink.WriteDevice(text, static_cast<size_t>(std::clamp<int>(n, 0, sizeof(text) - 1)));
  Logf(job.log, "ERROR: Unable to create the temporary file for manual duplex: %s\n",
       strerror(error));
}

// One pass over the back sides: the blank back of an odd last front (before
// or after the others, as outputorder says), then the even pages from the
// last to the first. False when it was stopped (cancel, device gone).
bool ReplayBackSides(RasterJobState& job, std::vector<uint8_t>& buf) {
  CommandStream& stream = job.stream;
  OutputSink& sink = stream.sink;
  const JobSettings& s = job.settings;
  const bool oddCount = stream.page % 2 == 1;
  if (oddCount && s[FN_outputorder] == 0) {
    if (job.Cancelled()) return false;
    InsertBlankPage(stream, job.lastHeader, &job.pageInfo, s.platform);
  }
  for (long k = stream.page / 2 - 1; k >= 0 && sink.evenFile.open(); --k) {
    if (job.Cancelled()) return false;
    const size_t index = static_cast<size_t>(k);
    uint64_t offset = 0;
    for (size_t i = 0; i < index && i < sink.cacheSize.size(); ++i) offset += sink.cacheSize[i];
    const uint64_t size = index < sink.cacheSize.size() ? sink.cacheSize[index] : 0;
    if (!ReplayBytes(job, sink.evenFile.fd(), offset, size, buf)) return false;
  }
  if (oddCount && s[FN_outputorder] == 1) {
    if (job.Cancelled()) return false;
    InsertBlankPage(stream, job.lastHeader, &job.pageInfo, s.platform);
  }
  return true;
}

}  // namespace

int CreateCollateFile(RasterJobState& job) {
  char name[255] = {};
  const int fd = CreateSpool(job, name, sizeof(name));
  if (fd < 0) {
    Logf(job.log, "ERROR: Unable to create the temporary file for collated copies: %s\n",
         strerror(errno));
    return 0;
  }
  job.stream.sink.collateFile.Reset(fd);
  return 1;
}

int CreateManualDuplexFiles(RasterJobState& job) {
  OutputSink& sink = job.stream.sink;
  char oddName[255] = {};
  char evenName[255] = {};
  sink.sendToDevice = 0;
  const int odd = CreateSpool(job, oddName, sizeof(oddName));
  if (odd < 0) {
    ReportSpoolOpenFailure(job, oddName);
    return 0;
  }
  sink.oddFile.Reset(odd);
  const int even = CreateSpool(job, evenName, sizeof(evenName));
  if (even < 0) {
    ReportSpoolOpenFailure(job, evenName);
    return 0;
  }
  sink.evenFile.Reset(even);
  return 1;
}

void RouteManualDuplexPage(RasterJobState& job, int page) {
  job.stream.sink.sendToDevice = (page % 2 == 1) ? 1 : 0;
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
  const int replayCopies = s[FN_Collate] == 1 ? job.jobCopies : 1;
  sink.sendToDevice = 1;

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

}  // namespace lumora

namespace {

void ReportBlankPageStep(CommandStream& stream, const char* text) {
  stream.lastError.Prepend(text);
  WriteFailureText(stream);
}

}  // namespace

int InsertBlankPage(CommandStream& stream, cups_page_header2_t header, PrntPageInfo* page,
                    int platform) {
  uint32_t width = page->imageWidth;
  uint32_t height = page->imageHeight;
  const int dpi1200 = page->dpi1200;
  page->pageNumber = static_cast<uint16_t>(stream.page + 1);

  if (!Prnt_StartPage(stream, page, platform))
    ReportBlankPageStep(stream, "InsertBlankPage() :: Start page Fail ! \n");

  // The page record carries the turned size; the band the unturned one.
  if (page->longEdgeFlag == 0x40) SwapUINT(&width, &height);

  const uint32_t bandWidth = dpi1200 != 0 ? 2 * width : width;
  const size_t bytes = static_cast<size_t>(bandWidth) * height / 8;
  std::unique_ptr<uint8_t, void (*)(void*)> blank(
      static_cast<uint8_t*>(calloc(bytes > 0 ? bytes : 1, 1)), free);
  if (!blank) {
    ReportBlankPageStep(stream, "InsertBlankPage() :: Send page Fail!\n");
  } else {
    PrntBandInfo band;
    band.imageFormat = 0;
    band.imageFlags1 = 0;
    band.imageFlags2 = 0;
    band.imageFlags3 = 0x20;
    band.width = static_cast<uint16_t>(dpi1200 == 1 ? 2 * width : width);
    band.height = static_cast<uint16_t>(height);
    if (platform == PLATFORM_C) {
      band.lineWidth = static_cast<uint16_t>(width);
      band.stripeLines = header.HWResolution[0] == 600 ? 768 : 384;
      band.dataLength = 853;
    }
    band.image = blank.get();
    if (!Prnt_SendPage(stream, &band, platform))
      ReportBlankPageStep(stream, "InsertBlankPage() :: Send page Fail!\n");
  }

  PrntPageEndInfo end;
  end.pageNumber = stream.page + 1;
  if (!Prnt_EndPage(stream, &end, platform))
    ReportBlankPageStep(stream, "InsertBlankPage() :: End page Fail ! \n");
  return 1;
}
