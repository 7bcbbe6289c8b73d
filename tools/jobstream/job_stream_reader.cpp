// SPDX-License-Identifier: GPL-2.0-or-later
// Dialect detection, the stream cursor and the page bookkeeping shared by
// the dialect readers.
#include "job_stream_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "reader_internal.h"

namespace lumora::inspect {

const char* DialectName(Dialect dialect) {
  switch (dialect) {
    case Dialect::kC: return "PLATFORM_C";
    case Dialect::kZ: return "PLATFORM_Z";
    case Dialect::kM: return "PLATFORM_M";
    default: return "unknown";
  }
}

std::string Hex(uint64_t value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return buf;
}

// ---- cursor ----

void StreamCursor::Skip(size_t count) {
  pos_ = count > left() ? size_ : pos_ + count;
}

void StreamCursor::Stop(size_t offset, const std::string& message) const {
  throw StreamStop{offset, message};
}

void StreamCursor::Error(size_t offset, const std::string& message) {
  out_.errors.push_back({offset, message});
}

void StreamCursor::Warn(size_t offset, const std::string& message) {
  out_.warnings.push_back({offset, message});
}

void StreamCursor::Need(size_t count, const std::string& what) const {
  if (count > left())
    Stop(pos_, "stream ends inside " + what + " (" + std::to_string(count) + " bytes needed, " +
                   std::to_string(left()) + " left)");
}

bool StreamCursor::StartsWith(const char* text, size_t len) const {
  return len <= left() && std::memcmp(data_ + pos_, text, len) == 0;
}

void StreamCursor::ExpectBytes(const char* bytes, size_t len, const std::string& what) {
  if (AtEnd()) Stop(pos_, "stream ends where " + what + " should follow");
  size_t n = len < left() ? len : left();
  for (size_t i = 0; i < n; i++)
    if (data_[pos_ + i] != uint8_t(bytes[i]))
      Stop(pos_ + i, "expected " + what + ", found byte " + Hex(data_[pos_ + i]) +
                         " at its byte " + std::to_string(i));
  if (n < len) Need(len, what);
  pos_ += len;
}

std::string StreamCursor::DescribeAt(size_t offset) const {
  if (offset >= size_) return "the end of the stream";
  size_t len = 0;
  while (offset + len < size_ && len < 60 && data_[offset + len] >= 0x20 && data_[offset + len] < 0x7F)
    len++;
  if (len >= 4) return "text \"" + std::string(reinterpret_cast<const char*>(data_ + offset), len) + "\"";
  return "byte " + Hex(data_[offset]);
}

size_t StreamCursor::SkipFillers() {
  size_t count = 0;
  while (pos_ < size_ && data_[pos_] == 0) {
    if (pos_ + 1 >= size_ || data_[pos_ + 1] != 0)
      Stop(pos_, "single 00 byte: fillers are 00 00 pairs");
    pos_ += 2;
    count++;
  }
  return count;
}

// ---- pages ----

int Page::Level(unsigned x, unsigned y) const {
  if (x >= width || y >= height || bits.empty()) return 0;
  const uint8_t* row = bits.data() + size_t(y) * bytesPerRow;
  if (bitsPerPixel == 2) return (row[x / 4] >> (6 - 2 * (x % 4))) & 3;
  return (row[x / 8] >> (7 - x % 8)) & 1;
}

void SetPagePicture(Page& page, unsigned width, unsigned height, int bitsPerPixel,
                    size_t bytesPerRow, std::vector<uint8_t>&& bits) {
  page.width = width;
  page.height = height;
  page.bitsPerPixel = bitsPerPixel;
  page.bytesPerRow = bytesPerRow;
  page.bits = std::move(bits);
  page.decoded = true;
  page.crc32 = uint32_t(crc32_z(crc32_z(0L, Z_NULL, 0), page.bits.data(), page.bits.size()));
  // Row padding bits are zero in a decoded JBIG image, so whole bytes count.
  uint64_t dots = 0;
  for (uint8_t b : page.bits) {
    if (bitsPerPixel == 2)
      dots += __builtin_popcount(unsigned((b | (b >> 1)) & 0x55));
    else
      dots += __builtin_popcount(unsigned(b));
  }
  page.dots = dots;
}

void FinishPage(StreamCursor& cur, Page&& page) {
  JobStream& out = cur.out();
  page.index = out.pages.size() + 1;
  page.endOffset = cur.pos();
  if (cur.options().onPage) cur.options().onPage(page);
  if (!cur.options().keepPixels) {
    page.bits.clear();
    page.bits.shrink_to_fit();
  }
  out.pages.push_back(std::move(page));
}

void NoteManualDuplex(StreamCursor& cur, size_t offset) {
  JobStream& out = cur.out();
  if (out.pages.empty()) cur.Warn(offset, "manual-duplex command before the first page");
  if (!out.manualDuplex.empty())
    cur.Warn(offset, "second manual-duplex command (the first is at byte " +
                         std::to_string(out.manualDuplex.front().offset) + ")");
  out.manualDuplex.push_back({offset, out.pages.size()});
}

// ---- paper names ----

namespace {

struct PaperCode {
  unsigned code;
  const char* name;
};

// Codes of the paper tables of each family (both PLATFORM_C tables use the same codes).
const PaperCode kPaperC[] = {
    {6, "A5"}, {0, "Letter"}, {1, "A4"}, {24, "A6"}, {3, "B5"}, {25, "IOSB5"}, {31, "B6"},
    {10, "Executive"}, {12, "Statement"}, {26, "Folio"}, {27, "Oficio"}, {8, "Postcard"},
    {11, "EnvMonarch"}, {14, "EnvDL"}, {15, "EnvC5"}, {16, "Com10Envelope"}, {28, "EnvC6"},
    {29, "ZL"}, {2, "Legal"}, {23, "Big32K"}, {21, "Big16K"}, {22, "32K"}, {20, "16K"},
    {0xFF, "custom"}};
const PaperCode kPaperZ[] = {
    {11, "A5"}, {2, "Letter"}, {1, "A4"}, {19, "A6"}, {5, "B5"}, {20, "IOSB5"}, {28, "B6"},
    {21, "Executive"}, {24, "Statement"}, {22, "Folio"}, {23, "Oficio"}, {12, "Postcard"},
    {6, "EnvMonarch"}, {7, "EnvDL"}, {8, "EnvC5"}, {9, "Com10Envelope"}, {25, "EnvC6"},
    {26, "ZL"}, {4, "Legal"}, {17, "Big32K"}, {15, "Big16K"}, {16, "32K"}, {14, "16K"},
    {18, "A5"}, {0, "custom"}};
const PaperCode kPaperM[] = {
    {11, "A5"}, {1, "Letter"}, {9, "A4"}, {70, "A6"}, {13, "B5"}, {34, "IOSB5"}, {271, "B6"},
    {7, "Executive"}, {6, "Statement"}, {14, "Folio"}, {269, "Oficio"}, {43, "Postcard"},
    {37, "EnvMonarch"}, {27, "EnvDL"}, {28, "EnvC5"}, {20, "Com10Envelope"}, {31, "EnvC6"},
    {270, "ZL"}, {5, "Legal"}, {260, "Big32K"}, {264, "Big16K"}, {266, "32K"}, {263, "16K"},
    {61, "A5"}, {0, "custom"}};

template <size_t N>
std::string Find(const PaperCode (&table)[N], unsigned code) {
  for (const PaperCode& p : table)
    if (p.code == code) return p.name;
  return "";
}

}  // namespace

std::string PaperName(Dialect dialect, unsigned code) {
  switch (dialect) {
    case Dialect::kC: return Find(kPaperC, code);
    case Dialect::kZ: return Find(kPaperZ, code);
    case Dialect::kM: return Find(kPaperM, code);
    default: return "";
  }
}

// ---- entry ----

JobStream ReadJobStream(const uint8_t* data, size_t size, const ReadOptions& options) {
  JobStream out;
  out.size = size;
  static const uint8_t kUelC[] = {0x1B, 0xFF, '-', '1', '2', '3', '4', '5', 'X'};
  static const char kUelPjl[] = "\x1B%-12345X@PJL\r\n";
  static const char kUelJzjz[] = "\x1B%-12345XJZJZ";
  if (!data) size = 0;
  if (size >= sizeof kUelC && std::memcmp(data, kUelC, sizeof kUelC) == 0)
    out.dialect = Dialect::kC;
  else if (size >= 15 && std::memcmp(data, kUelPjl, 15) == 0)
    out.dialect = Dialect::kZ;
  else if (size >= 13 && std::memcmp(data, kUelJzjz, 13) == 0)
    out.dialect = Dialect::kM;

  StreamCursor cur(data, size, options, out);
  if (out.dialect == Dialect::kUnknown) {
    out.errors.push_back({0, size == 0 ? std::string("empty stream")
                                       : "not a job stream of PLATFORM_C, PLATFORM_Z or "
                                         "PLATFORM_M (unknown start bytes)"});
    return out;
  }
  try {
    if (out.dialect == Dialect::kM)
      ReadPlatformMJob(cur);
    else
      ReadByteCodedJob(cur, out.dialect);
  } catch (const StreamStop& stop) {
    out.errors.push_back({stop.offset, stop.message});
  }
  auto byOffset = [](const StreamIssue& a, const StreamIssue& b) { return a.offset < b.offset; };
  std::stable_sort(out.errors.begin(), out.errors.end(), byOffset);
  std::stable_sort(out.warnings.begin(), out.warnings.end(), byOffset);
  return out;
}

}  // namespace lumora::inspect
