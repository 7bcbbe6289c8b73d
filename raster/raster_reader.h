// SPDX-License-Identifier: GPL-2.0-or-later
// A reader of CUPS raster streams: page headers and lines, read from a file
// descriptor with exactly the results of the CUPS imaging library's reader
// (cupsRasterOpen, cupsRasterReadHeader2, cupsRasterReadPixels): the same
// headers, line bytes and return values for every stream that library
// reads or refuses (sync words of versions 1, 2 and 3 in both byte orders,
// PWG and Apple raster, compressed or not, any depth and colour order),
// also for truncated streams and read lengths that are not whole lines.
// It decodes compressed lines several times faster.
//
// One difference, where the library is unsafe: once ReadHeader2 refused a
// page header, ReadPixels returns 0 until a header is accepted (the library
// goes on decoding with the refused sizes, and may write past its buffers).
//
// The reader is an object with no state outside it: any number may run at
// once, one thread each. It does not own or close the descriptor.
#pragma once

#include <cups/raster.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace lumora {

class RasterReader {
 public:
  static constexpr size_t kDefaultBufferSize = size_t{1} << 17;

  // Reads the sync word (and the file header of Apple raster), as
  // cupsRasterOpen(fd, CUPS_RASTER_READ) does. bufferSize is the read-ahead
  // of compressed streams (any size from 1 byte gives the same results).
  explicit RasterReader(int fd, size_t bufferSize = kDefaultBufferSize);
  // The same over a read function (as cupsRasterOpenIO): read(context,
  // buffer, n) returns what read(2) would (bytes, 0 at the end, -1).
  using ReadFunction = ssize_t (*)(void* context, void* buffer, size_t n);
  RasterReader(ReadFunction read, void* context, size_t bufferSize = kDefaultBufferSize);
  RasterReader(const RasterReader&) = delete;
  RasterReader& operator=(const RasterReader&) = delete;

  // A reader of the stream on fd, or null where cupsRasterOpen gives NULL
  // (empty or short stream, unknown sync word, read error).
  static std::unique_ptr<RasterReader> Open(int fd);
  bool IsOpen() const { return open_; }

  // cupsRasterReadHeader2: 1 and the next page header, or 0 and a zeroed
  // header (end of stream, short header, sizes the library refuses).
  unsigned ReadHeader2(cups_page_header2_t* header);
  // cupsRasterReadPixels: len, or 0 when the page has no more lines or the
  // stream ends or fails inside the bytes asked for.
  unsigned ReadPixels(unsigned char* p, unsigned len);

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  bool ReadSync();
  ssize_t ReadDirect(uint8_t* dst, size_t n);
  ssize_t ReadSource(uint8_t* dst, size_t n);
  bool Fill();
  bool Read(uint8_t* dst, size_t n);
  bool ReadSlow(uint8_t* dst, size_t n);
  int NextByte() { return in_ < inEnd_ ? *in_++ : NextByteSlow(); }
  int NextByteSlow();
  bool ReadStreamHeader();
  bool ReadAppleHeader();
  bool SetUpPage();
  bool HeaderAccepted() const;
  unsigned ReadUncompressed(uint8_t* p, unsigned len);
  unsigned ReadCompressed(uint8_t* p, unsigned len);
  void RowDone() {
    --count_;
    --remaining_;
  }
  bool DecodeRow(uint8_t* row);
  void DecodeFast(uint8_t*& out, size_t& left);
  bool DecodeSlowRun(uint8_t*& out, size_t& left);
  bool SwapsSamples() const;

  int fd_;
  ReadFunction read_ = nullptr;
  void* readContext_ = nullptr;
  bool open_ = false;
  uint32_t sync_ = 0;
  bool compressed_ = false;
  bool swapped_ = false;
  bool pageAccepted_ = false;
  cups_page_header2_t header_ {};
  uint32_t bpp_ = 0;        // bytes per pixel (chunked) or per sample
  uint32_t remaining_ = 0;  // rows of the page still to read
  uint32_t count_ = 0;      // reads left of the current row (row repeat)
  uint8_t clearByte_ = 0;   // what "clear to end of row" writes
  std::unique_ptr<uint8_t, FreeDeleter> row_;  // the current row, decoded
  uint8_t* rowPos_ = nullptr;
  uint8_t* rowEnd_ = nullptr;
  std::unique_ptr<uint8_t[]> buffer_;  // read-ahead of compressed streams
  size_t bufferSize_;
  const uint8_t* in_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
};

}  // namespace lumora
