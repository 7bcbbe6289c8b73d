// SPDX-License-Identifier: GPL-2.0-or-later
// CUPS raster reading, row by row, with the rules of the CUPS imaging
// library's reader: where it reads, what it accepts and what it returns,
// down to the bytes it leaves in a caller's buffer when a stream ends
// inside a row. Compressed rows are decoded from a read-ahead buffer
// without a call per byte; a run is copied or filled in one go.
#include "raster_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace lumora {

namespace {

constexpr size_t kAppleHeaderSize = 32;
constexpr size_t kAppleFileHeaderRest = 8;  // after the sync word: "AST\0" and a page count
constexpr size_t kSwappedWords = 81;        // every number of a page header
constexpr uint32_t kMaxBytesPerLine = 0x7fffffff;

constexpr const char* kAppleMediaTypes[] = {
    "auto", "stationery", "transparency", "envelope", "cardstock", "labels",
    "stationery-letterhead", "disc", "photographic-matte", "photographic-satin",
    "photographic-semi-gloss", "photographic-glossy", "photographic-high-gloss", "other"};
constexpr cups_cspace_t kAppleColorSpaces[] = {CUPS_CSPACE_SW, CUPS_CSPACE_SRGB, CUPS_CSPACE_CIELab,
                                              CUPS_CSPACE_ADOBERGB, CUPS_CSPACE_W, CUPS_CSPACE_RGB,
                                              CUPS_CSPACE_CMYK};
constexpr unsigned kAppleColors[] = {1, 3, 3, 3, 1, 3, 4};

// A header field as the 32-bit number the stream holds (enum fields may
// hold any value).
template <typename T>
uint32_t Raw(const T& field) {
  static_assert(sizeof(T) == sizeof(uint32_t), "32-bit header field");
  uint32_t v;
  std::memcpy(&v, &field, sizeof v);
  return v;
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void CopyText(char* dst, size_t size, const char* text) {
  std::strncpy(dst, text, size - 1);
  dst[size - 1] = '\0';
}

bool KnownSync(uint32_t sync) {
  switch (sync) {
    case CUPS_RASTER_SYNC: case CUPS_RASTER_REVSYNC:
    case CUPS_RASTER_SYNCv1: case CUPS_RASTER_REVSYNCv1:
    case CUPS_RASTER_SYNCv2: case CUPS_RASTER_REVSYNCv2:
    case CUPS_RASTER_SYNCapple: case CUPS_RASTER_REVSYNCapple:
      return true;
    default:
      return false;
  }
}

bool IsApple(uint32_t sync) { return sync == CUPS_RASTER_SYNCapple || sync == CUPS_RASTER_REVSYNCapple; }
bool IsVersion1(uint32_t sync) { return sync == CUPS_RASTER_SYNCv1 || sync == CUPS_RASTER_REVSYNCv1; }

// Colours of a colour space, 0 for a space the library does not know.
unsigned ColorsOfSpace(uint32_t space, uint32_t bitsPerPixel) {
  if (space >= CUPS_CSPACE_ICC1 && space <= CUPS_CSPACE_ICCF) return 3;
  if (space >= CUPS_CSPACE_DEVICE1 && space <= CUPS_CSPACE_DEVICEF)
    return space - CUPS_CSPACE_DEVICE1 + 1;
  switch (space) {
    case CUPS_CSPACE_W: case CUPS_CSPACE_K: case CUPS_CSPACE_WHITE: case CUPS_CSPACE_GOLD:
    case CUPS_CSPACE_SILVER: case CUPS_CSPACE_SW:
      return 1;
    case CUPS_CSPACE_RGB: case CUPS_CSPACE_CMY: case CUPS_CSPACE_YMC: case CUPS_CSPACE_CIEXYZ:
    case CUPS_CSPACE_CIELab: case CUPS_CSPACE_SRGB: case CUPS_CSPACE_ADOBERGB:
      return 3;
    case CUPS_CSPACE_RGBA: case CUPS_CSPACE_RGBW: case CUPS_CSPACE_CMYK: case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_KCMY: case CUPS_CSPACE_GMCK: case CUPS_CSPACE_GMCS:
      return 4;
    case CUPS_CSPACE_KCMYcm:
      return bitsPerPixel < 8 ? 6 : 4;
    default:
      return 0;
  }
}

// "Clear to end of row" gives white: 0xff in additive spaces, 0 otherwise.
uint8_t ClearByte(uint32_t space) {
  switch (space) {
    case CUPS_CSPACE_W: case CUPS_CSPACE_RGB: case CUPS_CSPACE_SW: case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_RGBW: case CUPS_CSPACE_ADOBERGB:
      return 0xff;
    default:
      return 0x00;
  }
}

// The page header an Apple raster page header stands for.
void FillAppleHeader(const uint8_t* a, cups_page_header2_t& h) {
  const bool knownSpace = a[1] < sizeof(kAppleColors) / sizeof(kAppleColors[0]);
  CopyText(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
  h.cupsBitsPerPixel = a[0];
  h.cupsColorSpace = knownSpace ? kAppleColorSpaces[a[1]] : CUPS_CSPACE_DEVICE1;
  h.cupsNumColors = knownSpace ? kAppleColors[a[1]] : 1;
  h.cupsBitsPerColor = h.cupsBitsPerPixel / h.cupsNumColors;
  h.cupsWidth = BigEndian32(a + 12);
  h.cupsHeight = BigEndian32(a + 16);
  h.cupsBytesPerLine = h.cupsWidth * h.cupsBitsPerPixel / 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.HWResolution[0] = h.HWResolution[1] = BigEndian32(a + 20);
  if (h.HWResolution[0] > 0) {
    h.PageSize[0] = h.cupsWidth * 72 / h.HWResolution[0];
    h.PageSize[1] = h.cupsHeight * 72 / h.HWResolution[1];
    h.cupsPageSize[0] = static_cast<float>(h.cupsWidth * 72.0 / h.HWResolution[0]);
    h.cupsPageSize[1] = static_cast<float>(h.cupsHeight * 72.0 / h.HWResolution[1]);
  }
  h.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = 0;
  h.cupsInteger[CUPS_RASTER_PWG_AlternatePrimary] = 0xffffff;
  h.cupsInteger[CUPS_RASTER_PWG_PrintQuality] = a[3];
  if (a[2] >= 2) h.Duplex = CUPS_TRUE;
  if (a[2] == 2) h.Tumble = CUPS_TRUE;
  h.MediaPosition = a[5];
  const size_t types = sizeof(kAppleMediaTypes) / sizeof(kAppleMediaTypes[0]);
  CopyText(h.MediaType, sizeof h.MediaType, kAppleMediaTypes[a[4] < types ? a[4] : types - 1]);
}

void SwapPairs(uint8_t* p, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
}

// Fills out[bpp, n) with copies of the pixel at out[0, bpp).
void Replicate(uint8_t* out, size_t bpp, size_t n) {
  if (bpp == 1) {
    std::memset(out + 1, out[0], n - 1);
    return;
  }
  for (size_t done = bpp; done < n;) {
    const size_t chunk = std::min(done, n - done);
    std::memcpy(out + done, out, chunk);
    done += chunk;
  }
}

}  // namespace

RasterReader::RasterReader(int fd, size_t bufferSize)
    : fd_(fd), bufferSize_(std::max<size_t>(bufferSize, 1)) {
  open_ = ReadSync();
}

RasterReader::RasterReader(ReadFunction read, void* context, size_t bufferSize)
    : fd_(-1), read_(read), readContext_(context), bufferSize_(std::max<size_t>(bufferSize, 1)) {
  open_ = ReadSync();
}

ssize_t RasterReader::ReadSource(uint8_t* dst, size_t n) {
  return read_ ? read_(readContext_, dst, n) : read(fd_, dst, n);
}

std::unique_ptr<RasterReader> RasterReader::Open(int fd) {
  auto reader = std::make_unique<RasterReader>(fd);
  if (!reader->IsOpen()) reader.reset();
  return reader;
}

bool RasterReader::ReadSync() {
  uint8_t word[sizeof sync_];
  if (ReadDirect(word, sizeof word) != static_cast<ssize_t>(sizeof word)) return false;
  std::memcpy(&sync_, word, sizeof sync_);
  if (!KnownSync(sync_)) return false;
  compressed_ = sync_ == CUPS_RASTER_SYNCv2 || sync_ == CUPS_RASTER_REVSYNCv2 || IsApple(sync_);
  swapped_ = sync_ == CUPS_RASTER_REVSYNC || sync_ == CUPS_RASTER_REVSYNCv1 ||
             sync_ == CUPS_RASTER_REVSYNCv2 || sync_ == CUPS_RASTER_REVSYNCapple;
  if (IsApple(sync_)) {
    uint8_t rest[kAppleFileHeaderRest];
    if (ReadDirect(rest, sizeof rest) != static_cast<ssize_t>(sizeof rest)) return false;
  }
  if (compressed_) buffer_.reset(new uint8_t[bufferSize_]);
  return true;
}

// Reads n bytes unbuffered; fewer at the end of the stream, -1 on an error.
ssize_t RasterReader::ReadDirect(uint8_t* dst, size_t n) {
  size_t total = 0;
  while (total < n) {
    const ssize_t got = ReadSource(dst + total, n - total);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(total);
}

// One read into the read-ahead buffer; false at the end of the stream or on an error.
bool RasterReader::Fill() {
  ssize_t got;
  do {
    got = ReadSource(buffer_.get(), bufferSize_);
  } while (got < 0 && (errno == EINTR || errno == EAGAIN));
  if (got <= 0) return false;
  in_ = buffer_.get();
  inEnd_ = in_ + got;
  return true;
}

// n bytes of the stream into dst; when it ends first, dst gets what there
// was and the answer is false.
bool RasterReader::Read(uint8_t* dst, size_t n) {
  if (!compressed_) return ReadDirect(dst, n) == static_cast<ssize_t>(n);
  if (static_cast<size_t>(inEnd_ - in_) < n) return ReadSlow(dst, n);
  std::memcpy(dst, in_, n);
  in_ += n;
  return true;
}

bool RasterReader::ReadSlow(uint8_t* dst, size_t n) {
  for (;;) {
    const size_t chunk = std::min(n, static_cast<size_t>(inEnd_ - in_));
    if (chunk > 0) std::memcpy(dst, in_, chunk);
    in_ += chunk;
    dst += chunk;
    n -= chunk;
    if (n == 0) return true;
    if (!Fill()) return false;
  }
}

int RasterReader::NextByteSlow() {
  if (!Fill()) return -1;
  return *in_++;
}

unsigned RasterReader::ReadHeader2(cups_page_header2_t* header) {
  pageAccepted_ = false;
  std::memset(&header_, 0, sizeof header_);
  const bool read = open_ && (IsApple(sync_) ? ReadAppleHeader() : ReadStreamHeader());
  if (read && SetUpPage() && HeaderAccepted()) {
    pageAccepted_ = true;
    std::memcpy(header, &header_, sizeof header_);
    return 1;
  }
  std::memset(header, 0, sizeof *header);
  return 0;
}

bool RasterReader::ReadStreamHeader() {
  const size_t size = IsVersion1(sync_) ? sizeof(cups_page_header_t) : sizeof(cups_page_header2_t);
  auto* bytes = reinterpret_cast<uint8_t*>(&header_);
  if (!Read(bytes, size)) return false;
  if (swapped_) {
    uint8_t* word = bytes + offsetof(cups_page_header2_t, AdvanceDistance);
    for (size_t i = 0; i < kSwappedWords; ++i, word += 4) std::reverse(word, word + 4);
  }
  return true;
}

bool RasterReader::ReadAppleHeader() {
  uint8_t apple[kAppleHeaderSize];
  if (!Read(apple, sizeof apple)) return false;
  FillAppleHeader(apple, header_);
  return true;
}

// The page's colours, bytes per pixel, row count and row buffer.
bool RasterReader::SetUpPage() {
  const uint32_t space = Raw(header_.cupsColorSpace);
  if (IsVersion1(sync_) || header_.cupsNumColors == 0) {
    const unsigned colors = ColorsOfSpace(space, header_.cupsBitsPerPixel);
    if (colors == 0) return false;
    header_.cupsNumColors = colors;
  }
  const uint32_t order = Raw(header_.cupsColorOrder);
  bpp_ = order == CUPS_ORDER_CHUNKED ? (header_.cupsBitsPerPixel + 7) / 8
                                     : (header_.cupsBitsPerColor + 7) / 8;
  if (bpp_ == 0) bpp_ = 1;
  remaining_ = order == CUPS_ORDER_PLANAR ? header_.cupsHeight * header_.cupsNumColors
                                          : header_.cupsHeight;
  clearByte_ = ClearByte(space);
  if (!compressed_) return true;
  row_.reset();
  row_.reset(static_cast<uint8_t*>(std::calloc(header_.cupsBytesPerLine, 1)));
  count_ = 0;
  rowPos_ = row_.get();
  rowEnd_ = row_ ? row_.get() + header_.cupsBytesPerLine : nullptr;
  return row_ != nullptr;
}

bool RasterReader::HeaderAccepted() const {
  const cups_page_header2_t& h = header_;
  return h.cupsBitsPerPixel > 0 && h.cupsBitsPerPixel <= 240 && h.cupsBitsPerColor > 0 &&
         h.cupsBitsPerColor <= 16 && h.cupsBytesPerLine > 0 &&
         h.cupsBytesPerLine <= kMaxBytesPerLine && h.cupsHeight != 0 &&
         h.cupsBytesPerLine % bpp_ == 0;
}

bool RasterReader::SwapsSamples() const {
  return swapped_ && (header_.cupsBitsPerColor == 16 || header_.cupsBitsPerPixel == 12 ||
                      header_.cupsBitsPerPixel == 16);
}

unsigned RasterReader::ReadPixels(unsigned char* p, unsigned len) {
  if (!pageAccepted_ || remaining_ == 0) return 0;
  return compressed_ ? ReadCompressed(p, len) : ReadUncompressed(p, len);
}

// Rows count down only by the whole rows asked for, as in the library.
unsigned RasterReader::ReadUncompressed(uint8_t* p, unsigned len) {
  remaining_ -= len / header_.cupsBytesPerLine;
  if (ReadDirect(p, len) < static_cast<ssize_t>(len)) return 0;
  if (SwapsSamples()) SwapPairs(p, len);
  return len;
}

// A request of exactly one row of a row that is not repeated is decoded
// straight into p; every other row goes through the row buffer, which
// keeps it for repeats and for requests that end inside it. A request that
// runs past the page's last row gets the rest of the page and counts as
// read whole.
unsigned RasterReader::ReadCompressed(uint8_t* p, unsigned len) {
  const unsigned bytesPerLine = header_.cupsBytesPerLine;
  unsigned left = len;
  while (left > 0 && remaining_ > 0) {
    unsigned bytes;
    if (count_ == 0) {
      const int repeat = NextByte();
      if (repeat < 0) return 0;
      count_ = static_cast<unsigned>(repeat) + 1;
      uint8_t* row = (left == bytesPerLine && count_ == 1) ? p : row_.get();
      if (!DecodeRow(row)) return 0;
      if (SwapsSamples()) SwapPairs(row, bytesPerLine);
      bytes = std::min(left, bytesPerLine);
      rowPos_ = row_.get() + (bytes < bytesPerLine ? bytes : 0);
      if (bytes == bytesPerLine) RowDone();
      if (row != p) std::memcpy(p, row, bytes);
    } else {
      bytes = std::min(left, static_cast<unsigned>(rowEnd_ - rowPos_));
      std::memcpy(p, rowPos_, bytes);
      rowPos_ += bytes;
      if (rowPos_ >= rowEnd_) {
        rowPos_ = row_.get();
        RowDone();
      }
    }
    left -= bytes;
    p += bytes;
  }
  return len;
}

// One row of the modified PackBits code: a byte n < 128 repeats the next
// pixel n + 1 times, n > 128 copies 257 - n pixels, 128 clears to the end
// of the row. Runs never pass the end of the row; a row of whole pixels
// always ends on a run boundary or inside a clipped run.
bool RasterReader::DecodeRow(uint8_t* row) {
  size_t left = header_.cupsBytesPerLine;
  uint8_t* out = row;
  while (left > 0) {
    DecodeFast(out, left);
    if (left > 0 && !DecodeSlowRun(out, left)) return false;
  }
  return true;
}

// Decodes runs while the read-ahead holds the longest run whole.
void RasterReader::DecodeFast(uint8_t*& out, size_t& left) {
  const size_t bpp = bpp_;
  const size_t longest = 1 + 128 * bpp;
  const uint8_t* in = in_;
  const uint8_t* const end = inEnd_;
  while (left > 0 && static_cast<size_t>(end - in) >= longest) {
    const unsigned code = *in++;
    size_t n;
    if (code == 128) {
      n = left;
      std::memset(out, clearByte_, n);
    } else if (code > 128) {
      n = std::min((257 - code) * bpp, left);
      std::memcpy(out, in, n);
      in += n;
    } else {
      n = std::min((code + 1) * bpp, left);
      if (bpp == 1) {
        std::memset(out, *in, n);
      } else {
        std::memcpy(out, in, bpp);
        Replicate(out, bpp, n);
      }
      in += bpp;
    }
    out += n;
    left -= n;
  }
  in_ = in;
}

// One run that may cross the end of the read-ahead; false when the stream
// ends inside it (the row keeps the bytes that came).
bool RasterReader::DecodeSlowRun(uint8_t*& out, size_t& left) {
  const int code = NextByte();
  if (code < 0) return false;
  const size_t bpp = bpp_;
  size_t n;
  if (code == 128) {
    n = left;
    std::memset(out, clearByte_, n);
  } else if (code > 128) {
    n = std::min((257 - static_cast<size_t>(code)) * bpp, left);
    if (!Read(out, n)) return false;
  } else {
    n = std::min((static_cast<size_t>(code) + 1) * bpp, left);
    if (!Read(out, bpp)) return false;
    Replicate(out, bpp, n);
  }
  out += n;
  left -= n;
  return true;
}

}  // namespace lumora
