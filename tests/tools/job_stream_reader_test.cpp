// SPDX-License-Identifier: GPL-2.0-or-later
// The reader on hand-built streams of the three dialects: what it reports
// for sound streams, and the byte offset it names for each kind of fault.
#include <gtest/gtest.h>

#include <random>

#include "job_stream_reader.h"
#include "stream_builders.h"

namespace lumora::test {

using inspect::Dialect;
using inspect::JobStream;
using inspect::ReadJobStream;

namespace {

std::vector<TestPage> TwoPages(unsigned width, unsigned height, int depth = 1) {
  TestPage a, b;
  a.bitmap = TestBitmap(width, height);
  a.depth = b.depth = depth;
  b.bitmap = TestBitmap(width, height, true);
  b.number = 2;
  b.copies = 3;
  return {a, b};
}

void ExpectPixels(const inspect::Page& page, const Bitmap& bitmap) {
  ASSERT_TRUE(page.decoded);
  EXPECT_EQ(page.width * unsigned(page.bitsPerPixel), bitmap.width);
  EXPECT_EQ(page.height, bitmap.height);
  EXPECT_EQ(page.bits, bitmap.bits);
}

std::string Errors(const JobStream& s) {
  std::string out;
  for (const auto& e : s.errors) out += std::to_string(e.offset) + ": " + e.message + "\n";
  return out;
}

}  // namespace

TEST(JobStreamReader, ReadsPlatformC) {
  auto pages = TwoPages(96, 40);
  pages[0].machineDuplex = true;
  Bytes job = BuildJobC(pages, 1);
  JobStream s = ReadJobStream(job);
  ASSERT_TRUE(s.ok()) << Errors(s);
  EXPECT_EQ(s.dialect, Dialect::kC);
  EXPECT_EQ(s.job.jobId, 0x2C);
  EXPECT_EQ(s.job.jobFlags, 0x30);
  EXPECT_EQ(s.job.density, 2);
  EXPECT_EQ(s.job.year, 2026);
  EXPECT_EQ(s.job.firmware, "versions=3.1.2.1");
  ASSERT_EQ(s.pages.size(), 2u);
  EXPECT_EQ(s.pages[0].paperName, "A4");
  EXPECT_EQ(s.pages[0].hResolution, 600);
  EXPECT_TRUE(s.pages[0].machineDuplex);
  EXPECT_EQ(s.pages[1].copies, 3u);
  EXPECT_EQ(s.pages[1].number, 2);
  EXPECT_EQ(s.pages[1].coverage, 0x1234);
  ASSERT_EQ(s.manualDuplex.size(), 1u);
  EXPECT_EQ(s.manualDuplex[0].pagesBefore, 1u);
  for (int i = 0; i < 2; i++) ExpectPixels(s.pages[i], pages[i].bitmap);
  EXPECT_TRUE(s.jobEnd);
}

TEST(JobStreamReader, ReadsPlatformZBandsAndCoverage) {
  auto pages = TwoPages(64, 600);
  Bytes job = BuildJobZ(pages);
  JobStream s = ReadJobStream(job);
  ASSERT_TRUE(s.ok()) << Errors(s);
  EXPECT_EQ(s.job.jobId, 300);
  EXPECT_EQ(s.job.jobTime, "05:09:07:12:2026");
  EXPECT_EQ(s.job.jobOwner, "printhost");
  EXPECT_EQ(s.job.fineMode, 1);
  ASSERT_EQ(s.pages.size(), 2u);
  EXPECT_EQ(s.pages[0].bands, 3u);
  EXPECT_EQ(s.pages[0].paperName, "A4");
  EXPECT_EQ(s.pages[1].coverage, int(s.pages[1].dots / 1000));
  for (int i = 0; i < 2; i++) ExpectPixels(s.pages[i], pages[i].bitmap);
}

TEST(JobStreamReader, ReadsPlatformMChunksAndTwoBitPages) {
  // A noisy 1024 x 1024 bitmap compresses to more than one 64 KiB chunk.
  auto pages = TwoPages(1024, 1024, 2);
  Bytes job = BuildJobM(pages, 1);
  JobStream s = ReadJobStream(job);
  ASSERT_TRUE(s.ok()) << Errors(s);
  ASSERT_EQ(s.pages.size(), 2u);
  EXPECT_GT(s.pages[1].chunks, 1u);
  EXPECT_EQ(s.pages[0].bitsPerPixel, 2);
  EXPECT_EQ(s.pages[0].width, 512u);
  EXPECT_EQ(s.pages[0].paperName, "Letter");
  EXPECT_EQ(s.manualDuplex.at(0).pagesBefore, 1u);
  for (int i = 0; i < 2; i++) ExpectPixels(s.pages[i], pages[i].bitmap);
  // Level of pixel 0 of row 0 is the first two bits of the bitmap.
  EXPECT_EQ(s.pages[0].Level(0, 0), pages[0].bitmap.bits[0] >> 6);
}

TEST(JobStreamReader, KeepAliveFillersBetweenRecordsAreAccepted) {
  Bytes job = BuildJobZ(TwoPages(32, 20));
  size_t page2 = Find(job, Rec(0x12, {1, 0, 60, 60, 1, 0, 3, 0, 0, 0, 0, 0, 2, 0}));
  ASSERT_NE(page2, std::string::npos);
  job.insert(job.begin() + page2, 6, 0);
  JobStream s = ReadJobStream(job);
  EXPECT_TRUE(s.ok()) << Errors(s);
  EXPECT_EQ(s.pages.size(), 2u);
}

// Each case damages a sound stream and names where the reader must point.
struct Damage {
  const char* name;
  Dialect dialect;
  // Changes the stream; returns the offset the first error must name.
  size_t (*apply)(Bytes& job);
  const char* message;
};

size_t PageSpecOf(const Bytes& job) { return Find(job, {0x0B, 0x12, 0x12}); }

const Damage kDamages[] = {
    {"record checksum", Dialect::kC,
     [](Bytes& j) { size_t at = PageSpecOf(j) + 17; j[at] ^= 0x01; return at; },
     "checksum of the page spec record"},
    {"truncated record", Dialect::kC,
     [](Bytes& j) { size_t at = PageSpecOf(j); j.resize(at + 10); return at; },
     "stream ends inside a record of 18 bytes"},
    {"host use missing", Dialect::kC,
     [](Bytes& j) { size_t at = Find(j, {0x0B, 0x04, 0x32, 0xBF}); j.erase(j.begin() + at, j.begin() + at + 4);
                    return Find(j, {0x0B, 0x12, 0x0C}); },
     "expected the host use record of page 1, found the raster image record"},
    {"image checksum", Dialect::kC,
     [](Bytes& j) { size_t at = Find(j, {0x0B, 0x06, 0x1A}); j[at + 3]++; j[at + 5]--; return at; },
     "image checksum record of page 1 says"},
    {"single zero byte", Dialect::kC,
     [](Bytes& j) { size_t at = PageSpecOf(j); j.insert(j.begin() + at, 0); return at; },
     "single 00 byte"},
    {"bytes after the job", Dialect::kC,
     [](Bytes& j) { j.push_back('x'); return j.size() - 1; }, "1 bytes follow the end of the job"},
    {"no job end", Dialect::kZ,
     [](Bytes& j) { j.resize(j.size() - 40); return j.size(); }, "stream ends without the job end"},
    {"coverage", Dialect::kZ,
     [](Bytes& j) { size_t at = Find(j, {0x0B, 0x07, 0x19}); j[at + 3]++; j[at + 6]--; return at; },
     "coverage record of page 1 says"},
    {"coverage before page spec", Dialect::kZ,
     [](Bytes& j) { size_t at = PageSpecOf(j); std::swap_ranges(j.begin() + at, j.begin() + at + 18,
                                                               j.begin() + at + 18 + 2 + 12 + 2);
                    return at; },
     "unexpected coverage record"},
    {"band length", Dialect::kZ,
     [](Bytes& j) { size_t at = Find(j, {0x0B, 0x30, 0x1A}); j[at + 27]++; j[at + 47]--; return at + 27; },
     "two different lengths"},
    {"bad JBIG planes", Dialect::kZ,
     [](Bytes& j) { size_t at = Find(j, {0x0B, 0x30, 0x1A}) + 48; j[at + 2] = 2; return at; },
     "JBIG image has 2 bit planes"},
    {"huge JBIG image", Dialect::kM,
     [](Bytes& j) { size_t at = Find(j, {0, 0, 1, 0, 0, 0, 0, 0x20}) ; (void)at;
                    size_t data = Find(j, {0x00, 0x00, 0x5A, 0x5A}, Find(j, {0, 0, 0, 5})) + 4;
                    Bytes big = {0, 0, 1, 0, 0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0};
                    std::copy(big.begin(), big.end(), j.begin() + data); return data + 4; },
     "is larger than the limit"},
    {"bad magic", Dialect::kM,
     [](Bytes& j) { size_t at = Find(j, {0x5A, 0x5A}, 13 + 88 + 52); j[at] = 0x5B; return at; },
     "magic 0x5A5A"},
    {"short chunk not last", Dialect::kM,
     [](Bytes& j) { size_t at = Find(j, {0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A}) - 4;
                    Bytes extra; MHeader(extra, 17, 5, 0); extra.push_back(0);
                    j.insert(j.begin() + at, extra.begin(), extra.end()); return at; },
     "only the last chunk may hold less than 65536"},
    {"truncated JBIG data", Dialect::kM,
     [](Bytes& j) { size_t at = Find(j, {0, 0, 0, 5, 0, 0, 0, 0}) - 4; uint32_t len = uint32_t(j[at + 2]) << 8 | j[at + 3];
                    j.erase(j.begin() + at + 16 + 30, j.begin() + at + len); j[at + 2] = 0; j[at + 3] = 46;
                    return at + 16 + 30; },
     "JBIG data ends before the image is complete"},
};

class ReaderDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ReaderDamage, NamesTheOffset) {
  const Damage& d = GetParam();
  auto pages = TwoPages(64, 300);
  Bytes job = d.dialect == Dialect::kC ? BuildJobC(pages) : d.dialect == Dialect::kZ ? BuildJobZ(pages)
                                                                                    : BuildJobM(pages);
  ASSERT_TRUE(ReadJobStream(job).ok());
  size_t offset = d.apply(job);
  JobStream s = ReadJobStream(job);
  ASSERT_FALSE(s.ok()) << d.name;
  EXPECT_EQ(s.errors[0].offset, offset) << Errors(s);
  EXPECT_NE(s.errors[0].message.find(d.message), std::string::npos) << Errors(s);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReaderDamage, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           std::string n = info.param.name;
                           for (char& c : n) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(JobStreamReader, GarbageNeverCrashes) {
  std::mt19937 rng(7);
  auto pages = TwoPages(64, 300);
  for (Bytes base : {BuildJobC(pages), BuildJobZ(pages), BuildJobM(pages)}) {
    for (size_t cut = 0; cut < base.size(); cut += 7) {
      Bytes part(base.begin(), base.begin() + cut);
      EXPECT_FALSE(ReadJobStream(part).ok());
    }
    for (int round = 0; round < 300; round++) {
      Bytes job = base;
      for (int k = 0; k < 1 + round % 4; k++) job[rng() % job.size()] = uint8_t(rng());
      inspect::ReadOptions small;
      small.maxPixels = 1 << 20;
      ReadJobStream(job, small);  // must return, whatever it finds
    }
  }
  EXPECT_FALSE(ReadJobStream(nullptr, 5).ok());
}

}  // namespace lumora::test
