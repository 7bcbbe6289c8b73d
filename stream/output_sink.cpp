// The output sink: every command byte of the raster filter passes here on
// its way to the device and, while pages are held back, to the spool files.
#include "output_sink.h"

#include <unistd.h>

#include <cerrno>

#include "job_state.h"

int gSendDataToDevice = 1;
int gCollateFile = 0;
int gManualDuplexOddFile = 0;
int gManualDuplexEvenFile = 0;
std::vector<uint64_t> gCacheSize;
int gSpoolWriteFailed = 0;
int gDeviceWriteFailed = 0;

namespace {

FILE* gSinkOutput = nullptr;  // null = standard output

// Writes all len bytes to a spool descriptor, riding over short writes and
// interrupted calls (the keep-alive timer fires every ten seconds).
bool WriteAll(int fd, const uint8_t* data, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteSpool(int fd, const uint8_t* data, size_t len) {
  bool ok = WriteAll(fd, data, len);
  if (!ok) gSpoolWriteFailed = 1;
  return ok;
}

bool WriteDevice(FILE* out, const void* data, size_t len) {
  bool ok = len == 0 || fwrite(data, len, 1, out) == 1;
  if (ok && fflush(out) != 0) ok = false;
  if (!ok) gDeviceWriteFailed = 1;
  return ok;
}

}  // namespace

FILE* SinkOutput() { return gSinkOutput != nullptr ? gSinkOutput : stdout; }

void SinkSetOutput(FILE* out) { gSinkOutput = out; }

int SendDataToFile(const void* data, size_t len, int toSideFiles) {
  FILE* out = SinkOutput();
  fflush(out);
  g_ismiddlepage = 1;

  if (data == nullptr) {
    SetLastError("SendDataToFile() :: NULL == pData");
    return 0;
  }

  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  bool wrote = false;
  bool allOk = true;
  auto note = [&](bool ok) {
    wrote = true;
    if (!ok) allOk = false;
  };

  if (gSendDataToDevice == 1) note(WriteDevice(out, bytes, len));
  if (toSideFiles == 1) {
    if (gCollateFile > 0) note(WriteSpool(gCollateFile, bytes, len));
    if (gManualDuplexOddFile > 0 && g_page % 2 == 1) {
      note(WriteSpool(gManualDuplexOddFile, bytes, len));
    }
    if (gManualDuplexEvenFile > 0 && g_page > 0 && g_page % 2 == 0) {
      note(WriteSpool(gManualDuplexEvenFile, bytes, len));
      // The replay cuts the even file at these sizes, so they count what was
      // meant for the page whatever the write did (a failed write is flagged).
      size_t slot = static_cast<size_t>(g_page / 2 - 1);
      if (slot >= gCacheSize.size()) gCacheSize.resize(slot + 1, 0);
      gCacheSize[slot] += len;
    }
  }

  fflush(out);
  g_ismiddlepage = 1;
  // A failure of any destination is a failure of the call: a job whose
  // device write failed is not rescued by a spool write that went through.
  return wrote && allOk ? 1 : 0;
}

int Insert00() {
  static const uint8_t filler[2] = {0x00, 0x00};
  if (SendDataToFile(filler, sizeof(filler), 1) == 0) {
    PrependLastError("Insert00() :: Send 00 00 to file Fail0 ==  \n");
    return 0;
  }
  return 1;
}

void ResetOutputSink() {
  gSendDataToDevice = 1;
  gCollateFile = 0;
  gManualDuplexOddFile = 0;
  gManualDuplexEvenFile = 0;
  gCacheSize.clear();
  gSpoolWriteFailed = 0;
  gDeviceWriteFailed = 0;
  gSinkOutput = nullptr;
}
