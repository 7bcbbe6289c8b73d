// SPDX-License-Identifier: GPL-2.0-or-later
// Shared machinery of the dialect readers: a bounds-checked cursor over the
// stream, the byte-coded record frame, and the page finishing step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "job_stream_reader.h"

namespace lumora::inspect {

// Thrown for a problem after which the rest of the stream cannot be read
// (framing, truncation, order). Content problems are only recorded.
struct StreamStop {
  size_t offset;
  std::string message;
};

std::string Hex(uint64_t value, int digits = 2);

// 0x0B record of PLATFORM_C / PLATFORM_Z, frame already checked.
struct Record {
  size_t offset = 0;
  unsigned length = 0;
  unsigned type = 0;
  const uint8_t* bytes = nullptr;  // length bytes, starting with 0x0B
  std::string name;                // name of the record in this dialect
};

class StreamCursor {
 public:
  StreamCursor(const uint8_t* data, size_t size, const ReadOptions& options, JobStream& out)
      : data_(data), size_(size), options_(options), out_(out) {}

  size_t pos() const { return pos_; }
  size_t size() const { return size_; }
  size_t left() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ >= size_; }
  const uint8_t* at(size_t offset) const { return data_ + offset; }
  void Skip(size_t count);  // within bounds only (checked with Need)

  [[noreturn]] void Stop(size_t offset, const std::string& message) const;
  void Error(size_t offset, const std::string& message);
  void Warn(size_t offset, const std::string& message);

  // Throws "truncated" unless count bytes are left.
  void Need(size_t count, const std::string& what) const;
  bool StartsWith(const char* text, size_t len) const;
  // Consumes exactly these bytes or stops with "expected <what>".
  void ExpectBytes(const char* bytes, size_t len, const std::string& what);

  // "byte 0x6D", or "text \"...\"" when printable text stands there (the
  // filter's failure messages end up in the stream that way).
  std::string DescribeAt(size_t offset) const;

  // Skips 00 00 fillers; returns the number skipped. A lone 00 stops the read.
  size_t SkipFillers();

  const ReadOptions& options() const { return options_; }
  JobStream& out() { return out_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  const ReadOptions& options_;
  JobStream& out_;
};

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t Be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Sets the picture of the page from decoded rows, counts its dots and CRC.
void SetPagePicture(Page& page, unsigned width, unsigned height, int bitsPerPixel,
                    size_t bytesPerRow, std::vector<uint8_t>&& bits);
// Hands the page to the caller's callback and stores it (pixels dropped
// unless the caller keeps them).
void FinishPage(StreamCursor& cur, Page&& page);

// Records the manual-duplex command between the two passes of a job.
void NoteManualDuplex(StreamCursor& cur, size_t offset);

void ReadByteCodedJob(StreamCursor& cur, Dialect dialect);  // PLATFORM_C, PLATFORM_Z
void ReadPlatformMJob(StreamCursor& cur);                   // PLATFORM_M

}  // namespace lumora::inspect
