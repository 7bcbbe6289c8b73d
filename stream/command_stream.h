// SPDX-License-Identifier: GPL-2.0-or-later
// The part of a raster job that the printer command stream works on: the
// output sink with its spool files, the page number, the failure text, the
// dot count and image checksum of the page, the encoder's threads, the
// stage times and the job's log. Every command of stream/ takes it as its
// first argument; a job owns one.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "byte_output.h"
#include "stage_times.h"

// A spool file, unlinked when it was created; closed when it goes.
class SpoolFile {
 public:
  SpoolFile() = default;
  ~SpoolFile() { Close(); }
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;
  void Reset(int fd);
  void Close();
  bool open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The failure text of the command stream, newest message first, at most
// 1023 characters.
class FailureText {
 public:
  void Prepend(const char* msg);
  void Set(const char* msg);
  const char* c_str() const { return text_; }

 private:
  char text_[1024] = {};
};

// Where command bytes go: the device, and while pages are held back for
// collated copies or manual duplex, the spool files.
class OutputSink {
 public:
  explicit OutputSink(lumora::ByteOutput& device) : device_(device) {}

  // Bytes to the device; a failure is remembered in deviceWriteFailed.
  bool WriteDevice(const void* data, size_t len);
  // Appends to a spool file; a failure drops every spool file (the job then
  // stops after its page) and is remembered in spoolWriteFailed.
  void WriteSpool(SpoolFile& file, const void* data, size_t len);
  // Closes every spool file.
  void DropSpoolFiles();

  int sendToDevice = 1;  // 1 = command bytes go to the device
  SpoolFile collateFile;
  SpoolFile oddFile;
  SpoolFile evenFile;
  // Bytes each page put into the even file (entry k: page 2k + 2), the
  // collate file (entry page - 1) and the odd file (entry (page - 1) / 2):
  // replays cut the files at these sizes and send whole pages.
  std::vector<uint64_t> cacheSize;
  std::vector<uint64_t> collatePageSize;
  std::vector<uint64_t> oddPageSize;
  bool spoolWriteFailed = false;
  bool deviceWriteFailed = false;

 private:
  lumora::ByteOutput& device_;
};

// The compression threads of a page (jbig_compress.cpp); a job has one for
// the page it is reading, and a page waiting to be sent keeps its own.
struct EncoderState;
struct EncoderDeleter {
  void operator()(EncoderState* state) const;
};
using EncoderHandle = std::unique_ptr<EncoderState, EncoderDeleter>;
EncoderHandle NewEncoder();
// True once the page's compression threads have finished (or none runs).
bool EncoderDone(const EncoderState& state);

// Command bytes held back: the records of a page that must wait for the
// pages before it, replayed through the sink in order later.
struct CapturedChunk {
  std::vector<uint8_t> bytes;
  int toSideFiles = 0;
  bool raw = false;  // failure text: to the device, outside the routing
};
using OutputCapture = std::vector<CapturedChunk>;

struct CommandStream {
  CommandStream(lumora::ByteOutput& device, lumora::LogOutput& log);
  ~CommandStream();
  CommandStream(const CommandStream&) = delete;
  CommandStream& operator=(const CommandStream&) = delete;

  // The middle-of-command flag: nonzero while command bytes are written.
  void SetMiddle(int value) { *middle = value; }

  OutputSink sink;
  lumora::LogOutput& log;
  int page = 0;                       // page being sent, 1-based
  std::string modelName;              // the printer model (*ModelName)
  FailureText lastError;
  uint32_t imageCoverage = 0;         // printed dots of the current page
  uint32_t imageChecksum = 0;         // checksum of the last compressed image
  char pjlPostSendTime[19] = {};      // PLATFORM_Z JOBTIME text of the job start
  char pjlPostComputerName[33] = {};  // PLATFORM_Z JOBOWNER text of the job start
  volatile sig_atomic_t ownMiddle = 1;
  volatile sig_atomic_t* middle = &ownMiddle;  // or the keep-alive handler's flag
  unsigned threads = 0;               // compression threads; 0 = the machine's
  std::function<time_t()> clock;      // empty: time(nullptr)
  std::function<int(char*, size_t)> hostName;  // empty: gethostname
  StageTimes stages;
  EncoderHandle encoder;
  OutputCapture* capture = nullptr;   // non-null: bytes are held back there
};

// Sends bytes through the sink. Returns 1 when every destination written
// took all the bytes, 0 otherwise (null data, no destination, or a failed
// device write: a failed device write is not hidden by a spool write that
// went through). A spool write that fails is reported through
// sink.spoolWriteFailed, not as a failed call, so the page in progress still
// reaches the device whole. Zero bytes to an open destination succeed.
int SendDataToFile(CommandStream& job, const void* data, size_t len, int toSideFiles);
// The two-byte filler 00 00 between records (page stream, toSideFiles = 1).
int Insert00(CommandStream& job);
// Writes the failure text into the job stream, outside the routing.
void WriteFailureText(CommandStream& job);
// Sends held-back bytes through the sink, in the order they were given.
void ReplayCapture(CommandStream& job, const OutputCapture& capture);
