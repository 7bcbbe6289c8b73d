// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: every command byte of a raster job passes here on its
// way to the device and, while pages are held back, to the spool files.
#include <unistd.h>

#include <cstring>

#include "command_stream.h"

namespace lumora {

namespace {

// Adds len to the entry of a page in a size table, growing it as needed.
void CountPageBytes(std::vector<uint64_t>& table, size_t slot, size_t len) {
  if (slot >= table.size()) table.resize(slot + 1, 0);
  table[slot] += len;
}

// Keeps bytes back for later, joined to the chunk before when it goes the
// same way.
void Capture(OutputCapture& capture, const void* data, size_t len, bool toSideFiles, bool raw) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (capture.empty() || capture.back().toSideFiles != toSideFiles || capture.back().raw != raw)
    capture.push_back(CapturedChunk{{}, toSideFiles, raw});
  capture.back().bytes.insert(capture.back().bytes.end(), bytes, bytes + len);
}

}  // namespace

CommandStream::CommandStream(ByteOutput& device, LogOutput& logOutput)
    : sink(device), log(logOutput) {}

StreamPage::StreamPage(const Route& jobRoute) : route(jobRoute), encoder(NewEncoder()) {
  route.hold = nullptr;
}

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

void OutputSink::Fault(OutputFault fault) {
  if (onFault) onFault(fault);
}

bool OutputSink::WriteDevice(const void* data, size_t len) {
  if (len == 0 || device_.Write(data, len)) return true;
  Fault(OutputFault::kDevice);
  return false;
}

void OutputSink::WriteSpool(SpoolFile& file, const void* data, size_t len) {
  if (len == 0 || WriteFully(file.fd(), data, len)) return;
  spoolDropped_ = true;
  DropSpoolFiles();
  Fault(OutputFault::kSpool);
}

void OutputSink::DropSpoolFiles() {
  collateFile.Close();
  oddFile.Close();
  evenFile.Close();
}

bool OutputSink::Write(const Route& route, const void* data, size_t len, bool toSideFiles) {
  bool wrote = false;
  bool ok = true;
  if (route.toDevice) {
    wrote = true;
    ok = WriteDevice(data, len);
  }
  if (toSideFiles && route.page > 0) {
    const size_t page = static_cast<size_t>(route.page);
    if (collateFile.open()) {
      wrote = true;
      WriteSpool(collateFile, data, len);
      CountPageBytes(collatePageSize, page - 1, len);
    }
    if (oddFile.open() && page % 2 == 1) {
      wrote = true;
      WriteSpool(oddFile, data, len);
      CountPageBytes(oddPageSize, (page - 1) / 2, len);
    }
    if (evenFile.open() && page % 2 == 0) {
      wrote = true;
      WriteSpool(evenFile, data, len);
      CountPageBytes(cacheSize, page / 2 - 1, len);
    }
  }
  // Bytes meant only for spool files that were dropped after a failed
  // write: the failure is the job's, not this step's.
  return (wrote || spoolDropped_) && ok;
}

bool SendDataToFile(CommandStream& job, const Route& route, const void* data, size_t len,
                    bool toSideFiles) {
  if (data == nullptr) {
    job.lastError.Set("SendDataToFile() :: NULL == pData");
    return false;
  }
  if (route.hold != nullptr) {
    Capture(*route.hold, data, len, toSideFiles, false);
    return true;
  }
  job.SetMiddle(1);
  const bool ok = job.sink.Write(route, data, len, toSideFiles);
  job.SetMiddle(1);
  return ok;
}

bool Insert00(CommandStream& job, const Route& route) {
  static const uint8_t kFiller[2] = {0x00, 0x00};
  if (SendDataToFile(job, route, kFiller, sizeof(kFiller), true)) return true;
  job.lastError.Prepend("Insert00() :: Send 00 00 to file Fail0 ==  \n");
  return false;
}

bool SendStep(CommandStream& job, const Route& route, const void* data, size_t len,
              const char* failure, bool toSideFiles) {
  if (SendDataToFile(job, route, data, len, toSideFiles)) return true;
  job.lastError.Prepend(failure);
  return false;
}

bool SendRecords(CommandStream& job, const Route& route, std::initializer_list<RecordStep> steps) {
  for (const RecordStep& step : steps) {
    if (!SendStep(job, route, step.data, step.len, step.failure)) return false;
    if (step.then00) Insert00(job, route);
  }
  return true;
}

void ReportStep(CommandStream& job, const Route& route, const char* line) {
  job.lastError.Prepend(line);
  WriteFailureText(job, route, job.lastError.c_str());
}

void WriteFailureText(CommandStream& job, const Route& route, const char* text) {
  if (route.hold != nullptr)
    Capture(*route.hold, text, strlen(text), false, true);
  else
    job.sink.WriteDevice(text, strlen(text));
}

void ReplayCapture(CommandStream& job, const Route& route, const OutputCapture& capture) {
  for (const CapturedChunk& chunk : capture) {
    if (chunk.raw)
      job.sink.WriteDevice(chunk.bytes.data(), chunk.bytes.size());
    else
      SendDataToFile(job, route, chunk.bytes.data(), chunk.bytes.size(), chunk.toSideFiles);
  }
}

}  // namespace lumora
