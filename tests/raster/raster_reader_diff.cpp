// SPDX-License-Identifier: GPL-2.0-or-later
// The two raster readers in lock step; the CUPS writer for test streams.
#include "raster_reader_diff.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace lumora::test {

namespace {

constexpr unsigned kMaxRowBytes = 1u << 18;
constexpr uint64_t kMaxReadBytes = uint64_t{8} << 20;
constexpr unsigned kMaxReadCalls = 40000;
constexpr int kMaxPages = 16;
constexpr size_t kGuard = 16;  // bytes past the asked length that must stay untouched

// The bytes in a memory file; every reader opens its own descriptor (its own offset).
class MemoryFile {
 public:
  explicit MemoryFile(const std::string& bytes) : fd_(memfd_create("raster", 0)) {
    for (size_t done = 0; fd_ >= 0 && done < bytes.size();) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ~MemoryFile() { if (fd_ >= 0) close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  int fd() const { return fd_; }
  int OpenReader() const {
    return open(("/proc/self/fd/" + std::to_string(fd_)).c_str(), O_RDONLY | O_CLOEXEC);
  }

 private:
  int fd_;
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string FirstByteDifference(const std::vector<unsigned char>& a,
                                const std::vector<unsigned char>& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin());
  if (at.first == a.end()) return "";
  return "byte " + std::to_string(at.first - a.begin()) + " is " + std::to_string(*at.first) +
         " (cups) / " + std::to_string(*at.second) + " (lumora)";
}

// Both readers over the same stream, every call made on both and compared.
class Lockstep {
 public:
  Lockstep(int cupsFd, int mineFd, size_t bufferSize)
      : cups_(cupsRasterOpen(cupsFd, CUPS_RASTER_READ)), mine_(mineFd, bufferSize) {}
  ~Lockstep() { if (cups_ != nullptr) cupsRasterClose(cups_); }
  Lockstep(const Lockstep&) = delete;
  Lockstep& operator=(const Lockstep&) = delete;

  bool IsOpen() const { return cups_ != nullptr; }
  std::string CheckOpen() const {
    if (IsOpen() == mine_.IsOpen()) return "";
    return std::string("open: cups ") + (IsOpen() ? "opened" : "refused") + ", lumora " +
           (mine_.IsOpen() ? "opened" : "refused");
  }

  std::string Header(cups_page_header2_t& header, unsigned& ok) {
    cups_page_header2_t theirs, mine;
    std::memset(&theirs, 0xa5, sizeof theirs);
    std::memset(&mine, 0xa5, sizeof mine);
    ok = cupsRasterReadHeader2(cups_, &theirs);
    const unsigned mineOk = mine_.ReadHeader2(&mine);
    std::memcpy(&header, &theirs, sizeof header);
    if (ok != mineOk)
      return "ReadHeader2 returned " + std::to_string(ok) + " (cups) / " + std::to_string(mineOk);
    if (std::memcmp(&theirs, &mine, sizeof mine) != 0) return "ReadHeader2: headers differ";
    return "";
  }

  std::string Pixels(unsigned len, unsigned& ok) {
    Fill(len);
    ok = cupsRasterReadPixels(cups_, a_.data(), len);
    const unsigned mineOk = mine_.ReadPixels(b_.data(), len);
    const std::string call = "ReadPixels(" + std::to_string(len) + ") #" + std::to_string(calls_);
    if (ok != mineOk)
      return call + " returned " + std::to_string(ok) + " (cups) / " + std::to_string(mineOk);
    const std::string bytes = FirstByteDifference(a_, b_);
    return bytes.empty() ? "" : call + ": " + bytes;
  }

  // Where the library would go on reading with the sizes it refused, the
  // reader gives nothing.
  std::string PixelsOfRefusedPage() {
    Fill(64);
    if (mine_.ReadPixels(b_.data(), 64) != 0) return "ReadPixels after a refused header";
    return FirstByteDifference(a_, b_);
  }

 private:
  void Fill(unsigned len) {
    const unsigned char pattern = static_cast<unsigned char>(++calls_ * 37 + 1);
    a_.assign(size_t{len} + kGuard, pattern);
    b_.assign(size_t{len} + kGuard, pattern);
  }

  cups_raster_t* cups_;
  lumora::RasterReader mine_;
  std::vector<unsigned char> a_, b_;
  unsigned calls_ = 0;
};

struct Budget {
  unsigned calls = kMaxReadCalls;
  uint64_t bytes = kMaxReadBytes;
  bool Spend(unsigned len) {
    if (calls == 0 || bytes < len) return false;
    --calls;
    bytes -= len;
    return true;
  }
};

unsigned OddLength(std::mt19937& rng, unsigned bpl) {
  switch (rng() % 10) {
    case 4: return 1;
    case 5: return bpl - 1;
    case 6: return bpl + 1;
    case 7: return 2 * bpl + 1;
    case 8: return static_cast<unsigned>(rng() % (bpl + 1));
    case 9: return 3 * bpl;
    default: return bpl;
  }
}

// Rows of one page: the filter's reads, or odd ones that may stop early or
// go past the page's end and on after a failure.
std::string ReadPage(Lockstep& s, const cups_page_header2_t& h, const ReadPlan& plan,
                     std::mt19937& rng, Budget& budget) {
  const unsigned bpl = h.cupsBytesPerLine;
  const bool odd = plan.calls == ReadCalls::kOdd;
  uint64_t rows = h.cupsHeight;
  if (odd && rng() % 3 == 0) rows = rng() % (rows + 1);
  if (odd && rng() % 3 == 0) rows += 2;
  int failures = 0;
  for (uint64_t y = 0; y < rows; ++y) {
    const unsigned len = odd ? OddLength(rng, bpl) : bpl;
    if (!budget.Spend(len)) return "";
    unsigned ok = 0;
    std::string d = s.Pixels(len, ok);
    if (!d.empty()) return d;
    if (ok == 0 && (!odd || ++failures > 2)) break;
  }
  return "";
}

std::string Drive(Lockstep& s, const ReadPlan& plan) {
  std::string d = s.CheckOpen();
  if (!d.empty() || !s.IsOpen()) return d;
  std::mt19937 rng(plan.seed);
  Budget budget;
  int refusals = 0;
  for (int page = 0; page < kMaxPages; ++page) {
    cups_page_header2_t header;
    unsigned ok = 0;
    d = s.Header(header, ok);
    if (ok == 0 && d.empty()) {
      if (plan.calls == ReadCalls::kFilter || ++refusals > 2) return "";
      d = s.PixelsOfRefusedPage();
    } else if (d.empty() && header.cupsBytesPerLine <= kMaxRowBytes) {
      d = ReadPage(s, header, plan, rng, budget);
    }
    if (!d.empty()) return "page " + std::to_string(page + 1) + ": " + d;
  }
  return "";
}

unsigned BytesPerLine(const TestPage& p) {
  switch (p.colorOrder) {
    case CUPS_ORDER_CHUNKED: return (p.width * p.bitsPerPixel + 7) / 8;
    case CUPS_ORDER_BANDED: return (p.width * p.bitsPerColor + 7) / 8 * p.numColors;
    default: return (p.width * p.bitsPerColor + 7) / 8;
  }
}

cups_page_header2_t HeaderOf(const TestPage& p, unsigned pageCount) {
  cups_page_header2_t h {};
  std::strcpy(h.MediaClass, "Plain");
  std::strcpy(h.MediaType, "stationery");
  h.HWResolution[0] = h.HWResolution[1] = 100;
  h.PageSize[0] = p.width * 72 / 100;
  h.PageSize[1] = p.height * 72 / 100;
  h.cupsWidth = p.width;
  h.cupsHeight = p.height;
  h.cupsBitsPerColor = p.bitsPerColor;
  h.cupsBitsPerPixel = p.bitsPerPixel;
  h.cupsBytesPerLine = BytesPerLine(p);
  h.cupsColorOrder = p.colorOrder;
  h.cupsColorSpace = p.colorSpace;
  h.cupsNumColors = p.numColors;
  h.NumCopies = 1;
  h.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = pageCount;
  return h;
}

// Runs of one value, runs of one pixel, noise; now and then the row before.
void NextRow(std::mt19937& rng, unsigned pixelBytes, std::vector<unsigned char>& row) {
  if (rng() % 4 == 0) return;
  for (size_t pos = 0; pos < row.size();) {
    const unsigned kind = rng() % 3;
    const size_t len = std::min<size_t>(row.size() - pos, 1 + rng() % (kind == 0 ? 300 : 40));
    const unsigned char value = rng() % 3 == 0 ? 0 : rng() % 2 == 0 ? 255 : rng() & 0xff;
    for (size_t i = 0; i < len; ++i) {
      if (kind == 0) row[pos + i] = value;
      else if (kind == 1) row[pos + i] = rng() & 0xff;
      else row[pos + i] = i < pixelBytes ? rng() & 0xff : row[pos + i - pixelBytes];
    }
    pos += len;
  }
}

void WritePage(cups_raster_t* ras, const TestPage& p, unsigned pageCount) {
  cups_page_header2_t h = HeaderOf(p, pageCount);
  if (!cupsRasterWriteHeader2(ras, &h)) return;
  const unsigned rows = p.colorOrder == CUPS_ORDER_PLANAR ? p.height * p.numColors : p.height;
  const unsigned pixelBytes = std::max(1u, p.colorOrder == CUPS_ORDER_CHUNKED
                                                ? (p.bitsPerPixel + 7) / 8
                                                : (p.bitsPerColor + 7) / 8);
  std::vector<unsigned char> row(h.cupsBytesPerLine, 255);
  std::mt19937 rng(p.seed);
  for (unsigned y = 0; y < rows; ++y) {
    NextRow(rng, pixelBytes, row);
    cupsRasterWritePixels(ras, row.data(), h.cupsBytesPerLine);
  }
}

}  // namespace

std::string RasterReadDifference(int cupsFd, int mineFd, const ReadPlan& plan) {
  Lockstep s(cupsFd, mineFd, plan.bufferSize);
  return Drive(s, plan);
}

std::string RasterReadDifference(const std::string& stream, const ReadPlan& plan) {
  MemoryFile file(stream);
  Fd cupsFd(file.OpenReader());
  Fd mineFd(file.OpenReader());
  if (file.fd() < 0 || cupsFd.get() < 0 || mineFd.get() < 0) return "cannot open a memory file";
  return RasterReadDifference(cupsFd.get(), mineFd.get(), plan);
}

std::string WriteTestStream(cups_mode_t mode, const std::vector<TestPage>& pages) {
  MemoryFile file("");
  cups_raster_t* ras = cupsRasterOpen(file.fd(), mode);
  if (ras == nullptr) return "";
  for (const TestPage& p : pages) WritePage(ras, p, static_cast<unsigned>(pages.size()));
  cupsRasterClose(ras);
  std::string bytes;
  char chunk[65536];
  ssize_t n;
  for (off_t at = 0; (n = pread(file.fd(), chunk, sizeof chunk, at)) > 0; at += n) bytes.append(chunk, n);
  return bytes;
}

}  // namespace lumora::test
