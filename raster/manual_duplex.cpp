#include "manual_duplex.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <vector>

#include "cups_binding.h"
#include "job_settings.h"
#include "stream/commands.h"
#include "stream/job_state.h"
#include "stream/output_sink.h"

namespace {

constexpr size_t kCollateChunk = 16384;
constexpr size_t kOddChunk = 4096;
constexpr size_t kEvenChunk = 16384;

// A spool file: created in the scheduler's temporary directory and unlinked
// at once; the descriptor keeps it alive until it is closed.
int CreateSpool(char* name, int nameSize) {
  int fd = pfcupsTempFd(name, nameSize);
  if (fd >= 0) unlink(name);
  return fd;
}

void CloseSpool(int& fd) {
  if (fd > 0) close(fd);
  fd = 0;
}

// Sends bytes that the device must get, repeating while the sink reports
// failure, but never forever: a device that is gone stops the replay.
bool SendToDevice(const uint8_t* data, size_t len) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (SendDataToFile(data, len, 0)) return true;
    if (gDeviceWriteFailed) return false;
  }
  return false;
}

bool Cancelled(const volatile sig_atomic_t* canceled) { return canceled != nullptr && *canceled; }

// Sends `size` bytes of a spool file from `offset`, chunk by chunk. False
// when the file cannot be read back or the device is gone.
bool ReplayBytes(int fd, uint64_t offset, uint64_t size, std::vector<uint8_t>& buf) {
  while (size > 0) {
    const size_t want = size < buf.size() ? static_cast<size_t>(size) : buf.size();
    ssize_t n = pread(fd, buf.data(), want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fputs("ERROR: Unable to read back the temporary spool file; pages are missing.\n", stderr);
      gSpoolWriteFailed = 1;
      return false;
    }
    if (!SendToDevice(buf.data(), static_cast<size_t>(n))) return false;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<uint64_t>(n);
  }
  return true;
}

// Sends a spool file from its start, a page at a time (pageSizes: the
// bytes of each page in file order). A cancel stops it between pages, never
// inside one. False when the replay was stopped.
bool ReplayPages(int fd, const std::vector<uint64_t>& pageSizes, size_t chunk,
                 const volatile sig_atomic_t* canceled) {
  std::vector<uint8_t> buf(chunk);
  uint64_t offset = 0;
  for (uint64_t size : pageSizes) {
    if (Cancelled(canceled)) return false;
    if (!ReplayBytes(fd, offset, size, buf)) return false;
    offset += size;
  }
  return true;
}

void ReportBlankPageStep(const char* text) {
  PrependLastError(text);
  WriteToDevice(prntLastError, strlen(prntLastError));
}

// "%s file open fail" into the job stream, and the reason in the log.
void ReportSpoolOpenFailure(const char* name) {
  char text[300];
  const int n = snprintf(text, sizeof(text), "%s file open fail", name);
  WriteToDevice(text, static_cast<size_t>(std::max(0, std::min<int>(n, sizeof(text) - 1))));
  fprintf(stderr, "ERROR: Unable to create the temporary file for manual duplex: %s\n",
          strerror(errno));
}

}  // namespace

int CreateCollateFile() {
  char name[255] = {};
  int fd = CreateSpool(name, sizeof(name));
  if (fd < 0) {
    fprintf(stderr, "ERROR: Unable to create the temporary file for collated copies: %s\n",
            strerror(errno));
    return 0;
  }
  gCollateFile = fd;
  return 1;
}

int CreateManualDuplexFiles() {
  char oddName[255] = {};
  char evenName[255] = {};
  gSendDataToDevice = 0;
  int odd = CreateSpool(oddName, sizeof(oddName));
  if (odd < 0) {
    ReportSpoolOpenFailure(oddName);
    return 0;
  }
  gManualDuplexOddFile = odd;
  int even = CreateSpool(evenName, sizeof(evenName));
  if (even < 0) {
    ReportSpoolOpenFailure(evenName);
    return 0;
  }
  gManualDuplexEvenFile = even;
  return 1;
}

void RouteManualDuplexPage(int page) { gSendDataToDevice = (page % 2 == 1) ? 1 : 0; }

void ReplayCollate(int jobCopies, const volatile sig_atomic_t* canceled) {
  if (gCollateFile <= 0) return;
  for (int copy = 1; copy < jobCopies; ++copy) {
    if (!ReplayPages(gCollateFile, gCollatePageSize, kCollateChunk, canceled)) break;
  }
  CloseSpool(gCollateFile);
}

namespace {

// One pass over the back sides: the blank back of an odd last front (before
// or after the others, as outputorder says), then the even pages from the
// last to the first. False when it was stopped (cancel, device gone).
bool ReplayBackSides(const JobSettings& s, const cups_page_header2_t& header,
                     PrntPageInfo* lastPage, std::vector<uint8_t>& buf,
                     const volatile sig_atomic_t* canceled) {
  const bool oddCount = g_page % 2 == 1;
  if (oddCount && s[FN_outputorder] == 0) {
    if (Cancelled(canceled)) return false;
    InsertBlankPage(header, lastPage, s.platform);
  }
  for (long k = g_page / 2 - 1; k >= 0 && gManualDuplexEvenFile > 0; --k) {
    if (Cancelled(canceled)) return false;
    const size_t index = static_cast<size_t>(k);
    uint64_t offset = 0;
    for (size_t i = 0; i < index && i < gCacheSize.size(); ++i) offset += gCacheSize[i];
    const uint64_t size = index < gCacheSize.size() ? gCacheSize[index] : 0;
    if (!ReplayBytes(gManualDuplexEvenFile, offset, size, buf)) return false;
  }
  if (oddCount && s[FN_outputorder] == 1) {
    if (Cancelled(canceled)) return false;
    InsertBlankPage(header, lastPage, s.platform);
  }
  return true;
}

}  // namespace

void ReplayManualDuplex(const JobSettings& s, int jobCopies, const cups_page_header2_t& header,
                        PrntPageInfo* lastPage, const volatile sig_atomic_t* canceled) {
  const int replayCopies = s[FN_Collate] == 1 ? jobCopies : 1;
  gSendDataToDevice = 1;

  // Front sides of the remaining copies.
  bool going = true;
  if (gManualDuplexOddFile > 0) {
    for (int copy = 1; copy < replayCopies && going; ++copy)
      going = ReplayPages(gManualDuplexOddFile, gOddPageSize, kOddChunk, canceled);
  }
  CloseSpool(gManualDuplexOddFile);
  if (!going || Cancelled(canceled)) {
    CloseSpool(gManualDuplexEvenFile);
    return;
  }

  SendManualDuplexCmd(s.platform);

  // Back sides, last page first, so they meet their fronts once the user
  // has turned the stack over. A cancel stops between two back sides.
  std::vector<uint8_t> buf(kEvenChunk);
  for (int copy = 0; copy < replayCopies && going; ++copy)
    going = ReplayBackSides(s, header, lastPage, buf, canceled);
  CloseSpool(gManualDuplexEvenFile);
}

int InsertBlankPage(cups_page_header2_t header, PrntPageInfo* page, int platform) {
  uint32_t width = page->imageWidth;
  uint32_t height = page->imageHeight;
  const int dpi1200 = page->dpi1200;
  page->pageNumber = static_cast<uint16_t>(g_page + 1);

  if (!Prnt_StartPage(page, platform))
    ReportBlankPageStep("InsertBlankPage() :: Start page Fail ! \n");

  // The page record carries the turned size; the band the unturned one.
  if (page->longEdgeFlag == 0x40) SwapUINT(&width, &height);

  const uint32_t bandWidth = dpi1200 != 0 ? 2 * width : width;
  const size_t bytes = static_cast<size_t>(bandWidth) * height / 8;
  std::unique_ptr<uint8_t, void (*)(void*)> blank(
      static_cast<uint8_t*>(calloc(bytes > 0 ? bytes : 1, 1)), free);
  if (!blank) {
    ReportBlankPageStep("InsertBlankPage() :: Send page Fail!\n");
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
    if (!Prnt_SendPage(&band, platform)) ReportBlankPageStep("InsertBlankPage() :: Send page Fail!\n");
  }

  PrntPageEndInfo end;
  end.pageNumber = g_page + 1;
  if (!Prnt_EndPage(&end, platform)) ReportBlankPageStep("InsertBlankPage() :: End page Fail ! \n");
  return 1;
}

void CloseSpoolFiles() {
  CloseSpool(gCollateFile);
  CloseSpool(gManualDuplexOddFile);
  CloseSpool(gManualDuplexEvenFile);
}
