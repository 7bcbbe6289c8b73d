// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs written by the real command stream (Prnt_* into an injected sink) and
// read back: every record, order and checksum holds, and each page decodes to
// the bitmap that was sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_stream.h"
#include "commands.h"
#include "job_stream_reader.h"
#include "stream_builders.h"

namespace lumora::test {

namespace {

struct Sent {
  Bitmap bitmap;
  unsigned number;
  unsigned copies;
  uint32_t dots = 0;
  int coverageC = -1;
};

struct MemoryDevice : lumora::ByteOutput {
  Bytes bytes;
  bool Write(const void* data, size_t len) override {
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + len);
    return true;
  }
};

struct NoLog : lumora::LogOutput {
  void Line(const char*) override {}
};

// Runs one job through the command stream and returns its bytes.
Bytes WriteJob(int platform, std::vector<Sent>& pages, bool dpi1200, bool duplex, int manualAfter) {
  MemoryDevice device;
  NoLog log;
  CommandStream job(device, log);
  job.modelName = "Lumora Test Series";
  PrntDocInfo doc;
  doc.jobId = 300;
  doc.platformFlag = platform == PLATFORM_M ? 0 : 0x10;
  doc.duplexFlag = duplex ? 0x20 : 0;
  doc.density = 2;
  EXPECT_EQ(Prnt_StartDoc(job, &doc, platform), 1);
  for (size_t i = 0; i < pages.size(); i++) {
    if (int(i) == manualAfter) {
      EXPECT_EQ(SendManualDuplexCmd(job, platform), 1);
    }
    Sent& p = pages[i];
    job.route.page = int(p.number);
    StreamPage page(job.route);
    unsigned f = dpi1200 ? 2 : 1;
    PrntPageInfo info;
    info.paperSize = platform == PLATFORM_M ? 9 : 1;
    info.hResolution = info.vResolution = platform == PLATFORM_M ? 600 : 60;
    info.inputSlot = 1;
    info.copies = uint16_t(p.copies);
    info.pageNumber = uint16_t(p.number);
    info.imageWidth = uint16_t(p.bitmap.width / f);
    info.imageHeight = uint16_t(p.bitmap.height);
    info.dpi1200 = dpi1200;
    EXPECT_EQ(Prnt_StartPage(job, page, &info, platform), 1);
    for (uint8_t b : p.bitmap.bits) p.dots += __builtin_popcount(b);
    page.coverage = p.dots;  // what the screen would have counted
    PrntBandInfo band;
    band.imageFlags3 = 0x20;
    band.width = uint16_t(p.bitmap.width);
    band.height = uint16_t(p.bitmap.height);
    if (platform == PLATFORM_C) {
      band.lineWidth = band.width;
      band.stripeLines = 768;
      band.dataLength = 853;
    }
    band.image = p.bitmap.bits.data();
    EXPECT_EQ(Prnt_SendPage(job, page, &band, platform), 1);
    PrntPageEndInfo end;
    end.pageNumber = int(p.number);
    end.duplex = duplex;
    end.resolution = 600;
    end.paperWidthMm = 210;
    end.density = 2;
    EXPECT_EQ(Prnt_EndPage(job, page, &end, platform), 1);
    p.coverageC = end.coverage;
  }
  PrntDocEndInfo docEnd;
  docEnd.pageCount = int(pages.size());
  docEnd.duplex = duplex;
  EXPECT_EQ(Prnt_EndDoc(job, &docEnd, platform), 1);
  return device.bytes;
}

struct Case {
  const char* name;
  int platform;
  bool dpi1200;
  bool duplex;
  int manualAfter;
};

class CommandStreamRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(CommandStreamRoundTrip, ReadsBackWhatWasSent) {
  const Case& c = GetParam();
  // 600 lines make three PLATFORM_Z bands; the noisy page needs two
  // PLATFORM_M chunks.
  std::vector<Sent> pages = {{TestBitmap(640, 600), 1, 1}, {TestBitmap(1024, 600, true), 3, 2},
                             {TestBitmap(640, 300), 2, 1}};
  Bytes job = WriteJob(c.platform, pages, c.dpi1200, c.duplex, c.manualAfter);
  inspect::JobStream s = inspect::ReadJobStream(job);
  for (const auto& e : s.errors) ADD_FAILURE() << e.offset << ": " << e.message;
  for (const auto& w : s.warnings) ADD_FAILURE() << "warning " << w.offset << ": " << w.message;
  EXPECT_EQ(int(s.dialect), c.platform);
  EXPECT_TRUE(s.jobEnd);
  ASSERT_EQ(s.pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); i++) {
    const inspect::Page& got = s.pages[i];
    // PLATFORM_M carries no page number.
    EXPECT_EQ(got.number, c.platform == PLATFORM_M ? -1 : int(pages[i].number));
    EXPECT_EQ(got.copies, pages[i].copies);
    EXPECT_EQ(got.paperName, "A4");
    EXPECT_EQ(got.hResolution, 600);
    EXPECT_EQ(got.bitsPerPixel, c.dpi1200 ? 2 : 1);
    EXPECT_EQ(got.bits, pages[i].bitmap.bits) << "page " << i + 1;
    if (c.platform == PLATFORM_C) {
      EXPECT_EQ(got.coverage, pages[i].coverageC);
      EXPECT_EQ(got.machineDuplex, c.duplex && pages[i].number % 2 == 1);
    }
    if (c.platform == PLATFORM_Z) {
      EXPECT_EQ(got.coverage, int(pages[i].dots / 1000));
    }
  }
  if (c.manualAfter >= 0) {
    ASSERT_EQ(s.manualDuplex.size(), 1u);
    EXPECT_EQ(s.manualDuplex[0].pagesBefore, size_t(c.manualAfter));
  }
  // Three pages: the job end adds a machine-duplex record after page number 2.
  EXPECT_EQ(s.machineDuplexAtJobEnd, c.duplex);
  if (c.platform == PLATFORM_M) {
    EXPECT_EQ(s.pages[1].chunks, 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dialects, CommandStreamRoundTrip,
    ::testing::Values(Case{"C", PLATFORM_C, false, false, -1}, Case{"C_duplex", PLATFORM_C, false, true, -1},
                      Case{"C_manual_duplex", PLATFORM_C, false, false, 2},
                      Case{"Z", PLATFORM_Z, false, false, 2}, Case{"M", PLATFORM_M, false, false, -1},
                      Case{"M_1200", PLATFORM_M, true, false, 1}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace lumora::test
