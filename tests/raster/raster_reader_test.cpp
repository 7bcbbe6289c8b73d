// SPDX-License-Identifier: GPL-2.0-or-later
// lumora::RasterReader against the CUPS library's reader: streams of the
// CUPS writer in every form (versions 1, 2, 3 in both byte orders, PWG,
// Apple), pages rendered by ghostscript's cups device, every truncation,
// hostile header values and seeded random mutations, read with the
// filter's calls and with odd ones. Every result and byte must agree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "raster_reader_diff.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// Both readers allocate a whole row when a compressed page starts: under
// AddressSanitizer a hostile header's gigabyte row costs a quarter of a
// second to free. Here such an allocation fails instead, in both readers
// alike, and both refuse the page (the normal build reads those pages).
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=32";
}
#endif

namespace lumora::test {

namespace {

using lumora::test::RasterReadDifference;
using lumora::test::ReadCalls;
using lumora::test::ReadPlan;
using lumora::test::TestPage;

constexpr size_t kHeaderSize = sizeof(cups_page_header2_t);
constexpr size_t kV1HeaderSize = sizeof(cups_page_header_t);
constexpr size_t kAppleHeaderSize = 32;
constexpr size_t kNumbersAt = offsetof(cups_page_header2_t, AdvanceDistance);

// Every depth, colour order and byte-swapped sample size the reader knows.
const std::vector<TestPage> kPages = {
    {37, 9, 8, 8, CUPS_CSPACE_K, CUPS_ORDER_CHUNKED, 1, 1},
    {64, 5, 8, 8, CUPS_CSPACE_W, CUPS_ORDER_CHUNKED, 1, 2},
    {29, 7, 1, 1, CUPS_CSPACE_K, CUPS_ORDER_CHUNKED, 1, 3},
    {11, 6, 16, 16, CUPS_CSPACE_SW, CUPS_ORDER_CHUNKED, 1, 4},
    {10, 5, 8, 24, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 3, 5},
    {5, 4, 16, 48, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 3, 6},
    {4, 5, 4, 12, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 3, 7},
    {13, 4, 8, 8, CUPS_CSPACE_CMYK, CUPS_ORDER_BANDED, 4, 8},
    {9, 3, 8, 8, CUPS_CSPACE_CMYK, CUPS_ORDER_PLANAR, 4, 9},
    {300, 4, 8, 8, CUPS_CSPACE_SRGB, CUPS_ORDER_CHUNKED, 1, 10},
};

enum class Form { kV3, kV3Swapped, kV2, kV2Swapped, kPwg, kApple, kV1, kV1Swapped };
const Form kForms[] = {Form::kV3, Form::kV3Swapped, Form::kV2, Form::kV2Swapped,
                       Form::kPwg, Form::kApple, Form::kV1, Form::kV1Swapped};

// A stream and where its page headers are.
struct Stream {
  std::string name;
  std::string bytes;
  std::vector<std::pair<size_t, size_t>> headers;  // offset, size
};

std::string Word(uint32_t native) { return std::string(reinterpret_cast<const char*>(&native), 4); }

void SwapNumbers(std::string& body, size_t headerSize) {
  for (size_t at = kNumbersAt; at + 4 <= headerSize; at += 4)
    std::reverse(body.begin() + at, body.begin() + at + 4);
}

// The stream of the pages in one form: each page written alone by the CUPS
// writer, its header turned or cut to the form, the pages put together.
Stream MakeStream(Form form, const std::vector<TestPage>& pages, const std::string& name) {
  const bool apple = form == Form::kApple;
  const bool v1 = form == Form::kV1 || form == Form::kV1Swapped;
  const bool swapped = form == Form::kV3Swapped || form == Form::kV2Swapped || form == Form::kV1Swapped;
  const cups_mode_t mode = apple ? CUPS_RASTER_WRITE_APPLE : form == Form::kPwg ? CUPS_RASTER_WRITE_PWG
                           : (form == Form::kV2 || form == Form::kV2Swapped) ? CUPS_RASTER_WRITE_COMPRESSED
                                                                             : CUPS_RASTER_WRITE;
  const size_t fileHeader = apple ? 12 : 4;
  const size_t headerSize = apple ? kAppleHeaderSize : v1 ? kV1HeaderSize : kHeaderSize;
  Stream s{name, "", {}};
  for (const TestPage& page : pages) {
    const std::string one = lumora::test::WriteTestStream(mode, {page});
    if (s.bytes.empty()) s.bytes = one.substr(0, fileHeader);
    std::string body = one.substr(fileHeader);
    if (v1) body.erase(kV1HeaderSize, kHeaderSize - kV1HeaderSize);
    if (swapped) SwapNumbers(body, headerSize);
    s.headers.emplace_back(s.bytes.size(), headerSize);
    s.bytes += body;
  }
  if (v1) s.bytes.replace(0, 4, Word(CUPS_RASTER_SYNCv1));
  if (swapped) std::reverse(s.bytes.begin(), s.bytes.begin() + 4);
  return s;
}

std::vector<Stream> WriterStreams() {
  std::vector<Stream> streams;
  for (Form form : kForms) {
    const std::string tag = "form " + std::to_string(static_cast<int>(form));
    streams.push_back(MakeStream(form, kPages, tag + " all pages"));
    streams.push_back(MakeStream(form, {kPages[0], kPages[2]}, tag + " two pages"));
  }
  return streams;
}

// Ghostscript's cups device over benchmark pages.
std::string RenderPages(int dpi, const std::vector<std::string>& args, const std::vector<std::string>& pages) {
  lumora::test::TempDir dir;
  lumora::test::RunOptions o;
  o.argv = {"/usr/bin/gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=cups", "-dcupsBitsPerColor=8",
            "-r" + std::to_string(dpi), "-sPAPERSIZE=a4", "-dFIXEDMEDIA", "-sOutputFile=" + dir.File("out.ras")};
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  for (const std::string& page : pages) o.argv.push_back(LUMORA_BENCH_DIR "/" + page + "_page.ps");
  if (lumora::test::RunProgram(o).status != 0) return "";
  return lumora::test::ReadFile(dir.File("out.ras"));
}

// Compressed, as the CUPS chain hands pages on, and as PWG raster; the
// last one small enough to mutate. Each is rendered when first needed.
constexpr size_t kGhostscriptStreams = 3;
const Stream& GhostscriptStream(size_t which) {
  static std::vector<Stream> streams(kGhostscriptStreams);
  Stream& s = streams[which];
  if (!s.bytes.empty()) return s;
  if (which == 0) {
    s.name = "gs text and photo, compressed";
    s.bytes = RenderPages(100, {"-dcupsColorSpace=3", "-dcupsRasterVersion=2"}, {"text", "photo"});
  } else if (which == 1) {
    s.name = "gs text, pwg";
    s.bytes = RenderPages(100, {"-dcupsColorSpace=18", "-sMediaClass=PwgRaster"}, {"text"});
  } else {
    s.name = "gs text, 30 dpi";
    s.bytes = RenderPages(30, {"-dcupsColorSpace=0", "-dcupsRasterVersion=2"}, {"text"});
  }
  return s;
}

std::string Check(const std::string& bytes, const ReadPlan& plan) {
  return RasterReadDifference(bytes, plan);
}

// Opened where the library opens: not for an empty stream, a short or
// unknown sync word, an Apple file header cut short, or a descriptor that
// cannot be read (a directory).
TEST(RasterReader, OpensWhereTheLibraryOpens) {
  lumora::test::TempDir dir;
  const std::string cases[] = {"", "Ra", "RaS9", "RaS2", "tSaR", "UNIRAST", std::string("UNIRAST\0\0\0\0\1", 12)};
  for (const std::string& bytes : cases) {
    lumora::test::WriteFile(dir.File("s"), bytes);
    const int a = open(dir.File("s").c_str(), O_RDONLY);
    const int b = open(dir.File("s").c_str(), O_RDONLY);
    cups_raster_t* ras = cupsRasterOpen(a, CUPS_RASTER_READ);
    EXPECT_EQ(ras != nullptr, lumora::RasterReader::Open(b) != nullptr) << bytes;
    if (ras != nullptr) cupsRasterClose(ras);
    close(a);
    close(b);
  }
  const int d = open(dir.path().c_str(), O_RDONLY);
  EXPECT_EQ(nullptr, cupsRasterOpen(d, CUPS_RASTER_READ));
  EXPECT_EQ(nullptr, lumora::RasterReader::Open(d));
  close(d);
}

TEST(RasterReader, WriterStreamsReadAlikeWithEveryCallPattern) {
  for (const Stream& s : WriterStreams()) {
    for (size_t buffer : {size_t{3}, size_t{300}, lumora::RasterReader::kDefaultBufferSize}) {
      EXPECT_EQ("", Check(s.bytes, {ReadCalls::kFilter, 1, buffer})) << s.name;
      for (uint32_t seed = 1; seed <= 6; ++seed)
        EXPECT_EQ("", Check(s.bytes, {ReadCalls::kOdd, seed, buffer})) << s.name << " seed " << seed;
    }
  }
}

// Cut inside every header (at its start, second byte and last byte) and
// at every byte of the rows.
TEST(RasterReader, EveryTruncationReadsAlike) {
  for (const Stream& s : WriterStreams()) {
    if (s.name.find("two pages") == std::string::npos) continue;
    std::vector<size_t> cuts;
    size_t next = 0;
    for (const auto& [at, size] : s.headers) {
      for (size_t cut = next; cut < at; ++cut) cuts.push_back(cut);
      cuts.insert(cuts.end(), {at, at + 1, at + size / 2, at + size - 1});
      next = at + size;
    }
    for (size_t cut = next; cut <= s.bytes.size(); ++cut) cuts.push_back(cut);
    for (size_t cut : cuts) {
      const std::string bytes = s.bytes.substr(0, cut);
      ASSERT_EQ("", Check(bytes, {ReadCalls::kFilter, 1, 64})) << s.name << " cut at " << cut;
      ASSERT_EQ("", Check(bytes, {ReadCalls::kOdd, static_cast<uint32_t>(cut), 64}))
          << s.name << " cut at " << cut;
    }
  }
}

TEST(RasterReader, GhostscriptPagesReadAlike) {
  for (size_t which = 0; which < kGhostscriptStreams; ++which) {
    const Stream& s = GhostscriptStream(which);
    ASSERT_GT(s.bytes.size(), 10000u) << s.name << ": ghostscript rendered nothing";
    EXPECT_EQ("", Check(s.bytes, {ReadCalls::kFilter, 1, lumora::RasterReader::kDefaultBufferSize})) << s.name;
    EXPECT_EQ("", Check(s.bytes, {ReadCalls::kOdd, 2, 1000})) << s.name;
    std::mt19937 rng(7);
    for (int i = 0; i < 20; ++i) {
      const size_t cut = rng() % s.bytes.size();
      ASSERT_EQ("", Check(s.bytes.substr(0, cut), {ReadCalls::kFilter, 1, 4096})) << s.name << " cut " << cut;
    }
  }
}

// The filter reads its raster from a pipe: reads that return whatever
// the writer has put in so far.
TEST(RasterReader, PipeInUnevenChunksReadsAlike) {
  const std::string& bytes = GhostscriptStream(1).bytes;
  lumora::test::TempDir dir;
  lumora::test::WriteFile(dir.File("in.ras"), bytes);
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::thread writer([&bytes, w = fds[1]] {
    std::mt19937 rng(3);
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t n = write(w, bytes.data() + at, std::min<size_t>(1 + rng() % 5000, bytes.size() - at));
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    close(w);
  });
  const int cupsFd = open(dir.File("in.ras").c_str(), O_RDONLY);
  EXPECT_EQ("", RasterReadDifference(cupsFd, fds[0], {ReadCalls::kFilter, 1, 8192}));
  char rest[4096];
  while (read(fds[0], rest, sizeof rest) > 0) {
  }
  writer.join();
  close(fds[0]);
  close(cupsFd);
}

void PutWord(std::string& bytes, size_t at, uint32_t value) {
  if (at + 4 <= bytes.size()) bytes.replace(at, 4, Word(value));
}

// Every size check of the header: values the library refuses, accepts, or
// that wrap its arithmetic, in the first page of a compressed and of an
// uncompressed stream (the second page must still read alike).
TEST(RasterReader, HostileHeaderValuesReadAlike) {
  const size_t fields[] = {offsetof(cups_page_header2_t, cupsBitsPerColor),
                           offsetof(cups_page_header2_t, cupsBitsPerPixel),
                           offsetof(cups_page_header2_t, cupsBytesPerLine),
                           offsetof(cups_page_header2_t, cupsHeight),
                           offsetof(cups_page_header2_t, cupsWidth),
                           offsetof(cups_page_header2_t, cupsColorOrder),
                           offsetof(cups_page_header2_t, cupsColorSpace),
                           offsetof(cups_page_header2_t, cupsNumColors)};
  const uint32_t values[] = {0, 1, 2, 3, 9, 12, 16, 17, 21, 37, 47, 62, 63, 240, 241,
                             0x40000000, 0x7fffffff, 0x80000000, 0xffffffff};
  for (Form form : {Form::kV2, Form::kV3, Form::kV1}) {
    const Stream s = MakeStream(form, {kPages[0], kPages[1]}, "form");
    for (size_t field : fields) {
      for (uint32_t value : values) {
        std::string bytes = s.bytes;
        if (field + 4 > kV1HeaderSize && form == Form::kV1) continue;
        // In a 32-bit process the two readers side by side cannot both
        // hold a row of a gigabyte or more (each alone reads it as the
        // other does, as the 64-bit builds show).
        const bool hugeRow = field == offsetof(cups_page_header2_t, cupsBytesPerLine) ||
                             field == offsetof(cups_page_header2_t, cupsWidth);
        if (sizeof(void*) < 8 && hugeRow && value >= 0x40000000) continue;
        PutWord(bytes, 4 + field, value);
        ASSERT_EQ("", Check(bytes, {ReadCalls::kFilter, 1, 4096}))
            << "form " << static_cast<int>(form) << " field at " << field << " = " << value;
        ASSERT_EQ("", Check(bytes, {ReadCalls::kOdd, value, 4096}))
            << "form " << static_cast<int>(form) << " field at " << field << " = " << value;
      }
    }
  }
}

std::string Mutate(std::string bytes, std::mt19937& rng) {
  static const uint32_t kValues[] = {0, 1, 8, 16, 128, 255, 0x7fffffff, 0x80000000, 0xffffffff};
  const int edits = 1 + rng() % 3;
  for (int e = 0; e < edits && !bytes.empty(); ++e) {
    const size_t at = rng() % bytes.size();
    switch (rng() % 6) {
      case 0: bytes[at] = static_cast<char>(rng()); break;
      case 1: PutWord(bytes, 4 + (rng() % (kHeaderSize / 4)) * 4, kValues[rng() % 9]); break;
      case 2: bytes.erase(at, 1 + rng() % 16); break;
      case 3: bytes.insert(at, std::string(1 + rng() % 16, static_cast<char>(rng()))); break;
      case 4: bytes.resize(at); break;
      default: bytes.insert(at, bytes.substr(rng() % bytes.size(), 1 + rng() % 64)); break;
    }
  }
  return bytes;
}

TEST(RasterReader, RandomMutationsReadAlike) {
  std::vector<std::string> bases;
  for (const Stream& s : WriterStreams()) bases.push_back(s.bytes);
  bases.push_back(GhostscriptStream(2).bytes);
  const size_t buffers[] = {7, 16, 200, 1000, 5000, lumora::RasterReader::kDefaultBufferSize};
  std::mt19937 rng(20240611);
  for (int i = 0; i < 3000; ++i) {
    const std::string bytes = Mutate(bases[i % bases.size()], rng);
    const ReadPlan plan{i % 2 == 0 ? ReadCalls::kFilter : ReadCalls::kOdd, static_cast<uint32_t>(i),
                        buffers[rng() % 6]};
    ASSERT_EQ("", Check(bytes, plan)) << "mutant " << i << " of base " << i % bases.size();
  }
}

}  // namespace

}  // namespace lumora::test
