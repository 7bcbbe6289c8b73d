// SPDX-License-Identifier: GPL-2.0-or-later
// The printer command stream of a raster job, in two parts. The job's part
// (CommandStream): the output sink with its spool files, the route of the
// job's own bytes, the failure text, the PJL texts of the job start, the
// encoder's thread count, the clock, the stage times and the job's log.
// A page's part (StreamPage): where the page's bytes go, its dot count and
// image checksum, its compression threads, and its records while they wait
// behind earlier pages. Every command of stream/ takes the job's part first
// and, for a page command, the page next; a job owns one CommandStream and
// one StreamPage per page it has begun and not yet sent.
//
// Failures: a step returns false and puts its line in front of the failure
// text; a failed write of the sink also tells the sink's owner at once
// (OutputSink::onFault). ReportStep is the one place that writes the
// failure text into the printer stream.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "byte_output.h"
#include "stage_times.h"

namespace lumora {

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

// The failure text of the command stream (the printer's prntLastError),
// newest message first, at most 1023 characters.
class FailureText {
 public:
  void Prepend(const char* msg);
  void Set(const char* msg);
  const char* c_str() const { return text_; }

 private:
  char text_[1024] = {};
};

// Command bytes held back: the records of a page that must wait for the
// pages before it, replayed through the sink in order later.
struct CapturedChunk {
  std::vector<uint8_t> bytes;
  bool toSideFiles = false;
  bool raw = false;  // failure text: to the device, outside the routing
};
using OutputCapture = std::vector<CapturedChunk>;

// Where bytes go: the page they belong to (its parity picks the
// manual-duplex spool file; 0 = before the first page: no spool file),
// whether the device gets them (a manual-duplex back side is only spooled),
// and, while the page waits behind earlier pages, the capture that holds
// them instead.
struct Route {
  int page = 0;
  bool toDevice = true;
  OutputCapture* hold = nullptr;
};

// A write the sink could not make: the device refused bytes (gone, or the
// disk under it full), or a spool file could not be written (every spool
// file is then dropped; the page in progress still reaches the device).
enum class OutputFault { kDevice, kSpool };

// Where command bytes go: the device, and while pages are held back for
// collated copies or manual duplex, the spool files.
class OutputSink {
 public:
  explicit OutputSink(ByteOutput& device) : device_(device) {}

  // Sends bytes along a route (see SendDataToFile).
  bool Write(const Route& route, const void* data, size_t len, bool toSideFiles);
  // Bytes to the device, outside the routing.
  bool WriteDevice(const void* data, size_t len);
  // Closes every spool file.
  void DropSpoolFiles();

  // Told at once of every failed write, before the write returns.
  std::function<void(OutputFault)> onFault;
  SpoolFile collateFile;
  SpoolFile oddFile;
  SpoolFile evenFile;
  // Bytes each page put into the even file (entry k: page 2k + 2), the
  // collate file (entry page - 1) and the odd file (entry (page - 1) / 2):
  // replays cut the files at these sizes and send whole pages.
  std::vector<uint64_t> cacheSize;
  std::vector<uint64_t> collatePageSize;
  std::vector<uint64_t> oddPageSize;

 private:
  void WriteSpool(SpoolFile& file, const void* data, size_t len);
  void Fault(OutputFault fault);

  ByteOutput& device_;
  bool spoolDropped_ = false;  // the spool files went with a failed write
};

// The compression threads of a page (jbig_compress.cpp).
struct EncoderState;
struct EncoderDeleter {
  void operator()(EncoderState* state) const;
};
using EncoderHandle = std::unique_ptr<EncoderState, EncoderDeleter>;
EncoderHandle NewEncoder();
// True once the page's compression threads have finished (or none runs).
bool EncoderDone(const EncoderState& state);

struct CommandStream {
  CommandStream(ByteOutput& device, LogOutput& log);
  CommandStream(const CommandStream&) = delete;
  CommandStream& operator=(const CommandStream&) = delete;

  // The middle-of-command flag: nonzero while command bytes are written.
  void SetMiddle(int value) { *middle = value; }

  OutputSink sink;
  LogOutput& log;
  // The job's own bytes (job start and end, the manual-duplex command, the
  // replays, blank pages): its page is the number of pages begun so far,
  // and it goes to the device unless the page being read is a manual-duplex
  // back side. A page starts with a copy of it.
  Route route;
  std::string modelName;              // the printer model (*ModelName)
  FailureText lastError;
  char pjlPostSendTime[19] = {};      // PLATFORM_Z JOBTIME text of the job start
  char pjlPostComputerName[33] = {};  // PLATFORM_Z JOBOWNER text of the job start
  volatile sig_atomic_t ownMiddle = 1;
  volatile sig_atomic_t* middle = &ownMiddle;  // or the keep-alive handler's flag
  unsigned threads = 0;               // compression threads; 0 = the machine's
  std::function<time_t()> clock;      // empty: time(nullptr)
  std::function<int(char*, size_t)> hostName;  // empty: gethostname
  StageTimes stages;
};

// One page of the stream. Not copied or moved: its route may point at its
// own held records.
struct StreamPage {
  explicit StreamPage(const Route& jobRoute);
  StreamPage(const StreamPage&) = delete;
  StreamPage& operator=(const StreamPage&) = delete;

  // Its records wait in `held` until Release; Release sends nothing.
  void Hold() { route.hold = &held; }
  void Release() { route.hold = nullptr; }
  int number() const { return route.page; }

  Route route;
  uint32_t coverage = 0;   // printed dots, counted by the screen
  uint32_t checksum = 0;   // checksum of its compressed image
  EncoderHandle encoder;   // its compression threads
  OutputCapture held;      // its records while earlier pages wait
};

// Sends bytes along a route: to the device when route.toDevice, and with
// toSideFiles to every open spool file the page belongs to; into route.hold
// instead while the page waits. True when every destination written took
// all the bytes; false for null data (the failure text is then replaced),
// no destination, or a failed device write (not hidden by a spool write
// that went through). A spool write that fails drops the spool files and
// is reported to onFault, not as a failed call, so the page in progress
// still reaches the device whole. Zero bytes to a destination succeed.
bool SendDataToFile(CommandStream& job, const Route& route, const void* data, size_t len,
                    bool toSideFiles);
// The two-byte filler 00 00 between records (page stream, toSideFiles).
bool Insert00(CommandStream& job, const Route& route);
// One step of a command sequence: sends the bytes and, when the sink
// refuses them, puts the step's failure line in front of the failure text.
bool SendStep(CommandStream& job, const Route& route, const void* data, size_t len,
              const char* failure, bool toSideFiles = true);
// One record of a fixed sequence: its bytes, the line its failure puts in
// front of the failure text, and whether the filler 00 00 follows it.
constexpr bool kThen00 = true;
constexpr bool kNo00 = false;
struct RecordStep {
  const void* data;
  size_t len;
  const char* failure;
  bool then00;
};
// Sends the records in order (SendStep each, Insert00 after those that ask
// for it) and stops at the first one refused.
bool SendRecords(CommandStream& job, const Route& route, std::initializer_list<RecordStep> steps);
// A failed step of the job: its line goes in front of the failure text and
// the whole text is written into the job stream.
void ReportStep(CommandStream& job, const Route& route, const char* line);
// Writes a failure text into the job stream, outside the routing (into the
// route's hold while its page waits). Every failure text the printer gets
// goes through here.
void WriteFailureText(CommandStream& job, const Route& route, const char* text);
// Sends held-back bytes through the sink along a route, in the order they
// were given.
void ReplayCapture(CommandStream& job, const Route& route, const OutputCapture& capture);

}  // namespace lumora
