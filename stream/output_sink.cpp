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
std::vector<uint64_t> gCollatePageSize;
std::vector<uint64_t> gOddPageSize;
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

// A spool file that cannot take the bytes ends all holding back: every
// spool file is closed (they are unlinked already) and the job stops after
// the page in progress.
void DropSpoolFiles() {
  for (int* fd : {&gCollateFile, &gManualDuplexOddFile, &gManualDuplexEvenFile}) {
    if (*fd > 0) close(*fd);
    *fd = 0;
  }
}

void WriteSpool(int fd, const uint8_t* data, size_t len) {
  if (!WriteAll(fd, data, len)) {
    gSpoolWriteFailed = 1;
    DropSpoolFiles();
  }
}

// Adds len to the entry of a page in a size table, growing it as needed.
void CountPageBytes(std::vector<uint64_t>& table, size_t slot, size_t len) {
  if (slot >= table.size()) table.resize(slot + 1, 0);
  table[slot] += len;
}

bool WriteDevice(FILE* out, const void* data, size_t len) {
  const bool ok = WriteToDevice(data, len);
  if (!ok) gDeviceWriteFailed = 1;
  (void)out;
  return ok;
}

}  // namespace

FILE* SinkOutput() { return gSinkOutput != nullptr ? gSinkOutput : stdout; }

void SinkSetOutput(FILE* out) { gSinkOutput = out; }

bool WriteToDevice(const void* data, size_t len) {
  FILE* out = SinkOutput();
  if (fflush(out) != 0) return false;
  if (len == 0) return true;
  // Straight to the descriptor: a signal (the cancel, the keep-alive timer)
  // that interrupts a write to a busy printer must not cut the record.
  const int fd = fileno(out);
  if (fd < 0) return fwrite(data, len, 1, out) == 1 && fflush(out) == 0;
  return WriteAll(fd, static_cast<const uint8_t*>(data), len);
}

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
  if (toSideFiles == 1 && g_page > 0) {
    const size_t page = static_cast<size_t>(g_page);
    if (gCollateFile > 0) {
      note(true);
      WriteSpool(gCollateFile, bytes, len);
      CountPageBytes(gCollatePageSize, page - 1, len);
    }
    if (gManualDuplexOddFile > 0 && page % 2 == 1) {
      note(true);
      WriteSpool(gManualDuplexOddFile, bytes, len);
      CountPageBytes(gOddPageSize, (page - 1) / 2, len);
    }
    if (gManualDuplexEvenFile > 0 && page % 2 == 0) {
      note(true);
      WriteSpool(gManualDuplexEvenFile, bytes, len);
      CountPageBytes(gCacheSize, page / 2 - 1, len);
    }
  }
  // Bytes meant only for spool files that were dropped after a failed
  // write: the failure is the job's (gSpoolWriteFailed), not this step's.
  if (!wrote && gSpoolWriteFailed) wrote = true;

  fflush(out);
  g_ismiddlepage = 1;
  // A failed device write fails the call: it is not rescued by a spool
  // write that went through.
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
  gCollatePageSize.clear();
  gOddPageSize.clear();
  gSpoolWriteFailed = 0;
  gDeviceWriteFailed = 0;
  gSinkOutput = nullptr;
}
