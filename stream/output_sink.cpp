// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: every command byte of a raster job passes here on its
// way to the device and, while pages are held back, to the spool files.
#include <unistd.h>

#include <cstring>

#include "command_stream.h"

namespace {

// Adds len to the entry of a page in a size table, growing it as needed.
void CountPageBytes(std::vector<uint64_t>& table, size_t slot, size_t len) {
  if (slot >= table.size()) table.resize(slot + 1, 0);
  table[slot] += len;
}

// Keeps bytes back for later, joined to the chunk before when it goes the
// same way.
void Capture(OutputCapture& capture, const void* data, size_t len, int toSideFiles, bool raw) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (capture.empty() || capture.back().toSideFiles != toSideFiles || capture.back().raw != raw)
    capture.push_back(CapturedChunk{{}, toSideFiles, raw});
  capture.back().bytes.insert(capture.back().bytes.end(), bytes, bytes + len);
}

}  // namespace

void SpoolFile::Reset(int fd) {
  Close();
  fd_ = fd;
}

void SpoolFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void FailureText::Prepend(const char* msg) {
  if (msg == nullptr) return;
  char joined[sizeof(text_)];
  const size_t n = strnlen(msg, sizeof(joined) - 1);
  memcpy(joined, msg, n);
  size_t rest = strnlen(text_, sizeof(text_) - 1);
  if (rest > sizeof(joined) - 1 - n) rest = sizeof(joined) - 1 - n;
  memcpy(joined + n, text_, rest);
  joined[n + rest] = '\0';
  memcpy(text_, joined, n + rest + 1);
}

void FailureText::Set(const char* msg) {
  if (msg == nullptr) msg = "";
  const size_t n = strnlen(msg, sizeof(text_) - 1);
  memcpy(text_, msg, n);
  text_[n] = '\0';
}

bool OutputSink::WriteDevice(const void* data, size_t len) {
  const bool ok = len == 0 || device_.Write(data, len);
  if (!ok) deviceWriteFailed = true;
  return ok;
}

void OutputSink::WriteSpool(SpoolFile& file, const void* data, size_t len) {
  if (len == 0 || lumora::WriteFully(file.fd(), data, len)) return;
  spoolWriteFailed = true;
  DropSpoolFiles();
}

void OutputSink::DropSpoolFiles() {
  collateFile.Close();
  oddFile.Close();
  evenFile.Close();
}

int SendDataToFile(CommandStream& job, const void* data, size_t len, int toSideFiles) {
  if (data == nullptr) {
    job.lastError.Set("SendDataToFile() :: NULL == pData");
    return 0;
  }
  if (job.capture != nullptr) {
    Capture(*job.capture, data, len, toSideFiles, false);
    return 1;
  }
  job.SetMiddle(1);
  OutputSink& sink = job.sink;
  bool wrote = false;
  bool ok = true;
  if (sink.sendToDevice == 1) {
    wrote = true;
    ok = sink.WriteDevice(data, len);
  }
  if (toSideFiles == 1 && job.page > 0) {
    const size_t page = static_cast<size_t>(job.page);
    if (sink.collateFile.open()) {
      wrote = true;
      sink.WriteSpool(sink.collateFile, data, len);
      CountPageBytes(sink.collatePageSize, page - 1, len);
    }
    if (sink.oddFile.open() && page % 2 == 1) {
      wrote = true;
      sink.WriteSpool(sink.oddFile, data, len);
      CountPageBytes(sink.oddPageSize, (page - 1) / 2, len);
    }
    if (sink.evenFile.open() && page % 2 == 0) {
      wrote = true;
      sink.WriteSpool(sink.evenFile, data, len);
      CountPageBytes(sink.cacheSize, page / 2 - 1, len);
    }
  }
  // Bytes meant only for spool files that were dropped after a failed
  // write: the failure is the job's, not this step's.
  if (!wrote && sink.spoolWriteFailed) wrote = true;
  job.SetMiddle(1);
  return wrote && ok ? 1 : 0;
}

int Insert00(CommandStream& job) {
  static const uint8_t filler[2] = {0x00, 0x00};
  if (SendDataToFile(job, filler, sizeof(filler), 1) == 0) {
    job.lastError.Prepend("Insert00() :: Send 00 00 to file Fail0 ==  \n");
    return 0;
  }
  return 1;
}

void WriteFailureText(CommandStream& job) {
  const char* text = job.lastError.c_str();
  if (job.capture != nullptr)
    Capture(*job.capture, text, strlen(text), 0, true);
  else
    job.sink.WriteDevice(text, strlen(text));
}

void ReplayCapture(CommandStream& job, const OutputCapture& capture) {
  for (const CapturedChunk& chunk : capture) {
    if (chunk.raw)
      job.sink.WriteDevice(chunk.bytes.data(), chunk.bytes.size());
    else
      SendDataToFile(job, chunk.bytes.data(), chunk.bytes.size(), chunk.toSideFiles);
  }
}
