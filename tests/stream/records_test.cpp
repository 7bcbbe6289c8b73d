// SPDX-License-Identifier: GPL-2.0-or-later
// Byte layouts of the command records, one row per example the printer
// documentation gives.
#include <functional>

#include "band_image.h"
#include "command_bytes.h"
#include "commands.h"
#include "stream_test_util.h"

namespace lumora::test {

namespace {

using stream::H;
using stream::Hex;
using stream::Job300;
using stream::Page1;

struct RecordCase {
  const char* name;
  size_t length;
  std::function<void(uint8_t*)> build;
  const char* expected;
};

PrntPageInfo CustomPage(uint16_t paperSize) {
  PrntPageInfo page;
  page.paperSize = paperSize;
  page.paperWidth = 2000;
  page.paperHeight = 3000;
  page.imageWidth = 1984;
  page.imageHeight = 2944;
  return page;
}

const RecordCase kRecords[] = {
    {"cmd param", 12, [](uint8_t* b) { SetCmdParam(b, 0xFF00, 1, 2); },
     "00 00 00 0C FF 00 01 00 00 00 00 02"},
    {"cmd header", 16, [](uint8_t* b) { SetCmdType(b, 16, 6, 0, 0, 0x5A5A); },
     "00 00 00 10 00 00 00 06 00 00 00 00 00 00 5A 5A"},
    {"job spec C", 6, [](uint8_t* b) { PrntDocInfo d = Job300(); GetJobSpecCmd_C(&d, b); },
     "0B 06 11 2C 30 82"},
    {"job spec Z", 9, [](uint8_t* b) { PrntDocInfo d = Job300(); GetJobSpecCmd_Z(&d, b); },
     "0B 09 11 30 2C 01 00 00 7E"},
    {"job flags", 6,
     [](uint8_t* b) {
       PrntDocInfo d;
       d.jobFlag80 = d.jobFlag08 = d.jobFlag04 = d.jobFlag02 = d.jobFlag01 = 7;
       d.fineMode = 1;  // not a job flag
       GetJobSpecCmd_C(&d, b);
     },
     "0B 06 11 00 8F 4F"},
    {"toner save", 5, [](uint8_t* b) { PrntDocInfo d = Job300(); GetTonerSaveCmd(&d, b); },
     "0B 05 19 00 D7"},
    {"density", 5, [](uint8_t* b) { PrntDocInfo d = Job300(); GetDensityCmd(&d, b); },
     "0B 05 15 02 D9"},
    {"fine mode", 5, [](uint8_t* b) { PrntDocInfo d = Job300(); GetFineModeCmd(&d, b); },
     "0B 05 1F 01 D0"},
    {"page spec C", 18,
     [](uint8_t* b) { PrntPageInfo p = Page1(); GetPageSpecCmd(&p, b, PLATFORM_C); },
     "0B 12 12 01 00 3C 3C 01 00 01 00 00 00 00 00 01 00 55"},
    {"page spec Z ignores flags", 18,
     [](uint8_t* b) {
       PrntPageInfo p = Page1();
       p.longEdgeFlag = 0x40;
       GetPageSpecCmd(&p, b, PLATFORM_Z);
     },
     "0B 12 12 01 00 3C 3C 01 00 01 00 00 00 00 00 01 00 55"},
    {"page spec C flags", 18,
     [](uint8_t* b) {
       PrntPageInfo p = Page1();
       p.longEdgeFlag = 0x40;
       p.pageFlagsA = 0x01;
       GetPageSpecCmd(&p, b, PLATFORM_C);
     },
     "0B 12 12 01 00 3C 3C 01 41 01 00 00 00 00 00 01 00 14"},
    {"custom paper C", 12,
     [](uint8_t* b) { PrntPageInfo p = CustomPage(0xFF); GetCustomPaperCmd(&p, b, PLATFORM_C); },
     "0B 0C 13 D0 07 B8 0B C0 07 80 0B EA"},
    {"custom paper Z size 0", 12,
     [](uint8_t* b) { PrntPageInfo p = CustomPage(0); GetCustomPaperCmd(&p, b, PLATFORM_Z); },
     "0B 0C 13 D0 07 B8 0B C0 07 80 0B EA"},
    {"0xFF is no custom size on Z", 12,
     [](uint8_t* b) { PrntPageInfo p = CustomPage(0xFF); GetCustomPaperCmd(&p, b, PLATFORM_Z); },
     "0B 0C 13 00 00 00 00 00 00 00 00 D6"},
    {"raster image C", 18,
     [](uint8_t* b) {
       PrntBandInfo band;
       band.imageFlags3 = 0x20;
       band.width = band.lineWidth = 4960;
       band.height = 7016;
       band.stripeLines = 768;
       band.dataLength = 123456;
       GetRasterImageCmd(&band, b);
     },
     "0B 12 0C 00 20 60 13 68 1B 60 13 00 03 40 E2 01 00 28"},
    {"band header", 48,
     [](uint8_t* b) {
       PrntBandInfo band;
       band.width = 4960;
       band.height = 600;
       PrntJbigParam p = MakeJbigParam(&band, PLATFORM_Z);
       p.yd = p.l0 = 256;
       GetBandHeader(p, 1000, 256, b);
     },
     "0B 30 1A 00 00 01 00 60 13 00 00 00 01 00 00 00 01 00 00 00 00 03 58 E8 03 00 00 E8 03 00 "
     "00 00 00 00 00 00 01 00 00 03 00 00 00 00 00 00 00 00"},
    {"JBIG_PARAM_CMD", 36,
     [](uint8_t* b) {
       PrntBandInfo band;
       band.width = 4960;
       band.height = 7016;
       PrntJbigParam p = MakeJbigParam(&band, PLATFORM_M);
       SetJBIGCmdAndParam(b, JbigParamWord0(p), p.xd, p.yd, p.l0, JbigParamWord4(p), 36,
                          JBIG_PARAM_CMD, kCmdMagic);
     },
     "00 00 00 24 00 00 00 04 00 00 00 00 00 00 5A 5A 00 00 01 00 00 00 13 60 00 00 1B 68 00 00 "
     "01 00 00 00 03 5C"},
    {"coverage Z", 7, [](uint8_t* b) { GetCoverageCmd_Z(1234567, b); },
     "0B 07 19 12 13 00 B0"},
    {"coverage Z wraps", 7, [](uint8_t* b) { GetCoverageCmd_Z(65536000u + 5000u, b); },
     "0B 07 19 05 00 00 D0"},
    {"coverage Z top bits", 7, [](uint8_t* b) { GetCoverageCmd_Z(65535000u, b); },
     "0B 07 19 3F 3F 0F 48"},
    {"image checksum", 6, [](uint8_t* b) { GetImageDataChenksumCmd(0x5A, b); },
     "0B 06 1A 5A 00 7B"},
};

TEST(Records, BytesMatchTheLayout) {
  for (const auto& c : kRecords) {
    SCOPED_TRACE(c.name);
    uint8_t buf[64];
    memset(buf, 0xEE, sizeof(buf));
    c.build(buf);
    EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(buf), c.length)), Hex(H(c.expected)));
    EXPECT_EQ(buf[c.length], 0xEE) << "wrote past the record";
  }
}

TEST(Records, Checksum) {
  EXPECT_EQ(CalcChecksum(reinterpret_cast<const uint8_t*>("\x0B\x04\x18"), 3), 0xD9);
  EXPECT_EQ(CalcChecksum(reinterpret_cast<const uint8_t*>("\x0B\x04\x32"), 3), 0xBF);
  EXPECT_EQ(CalcChecksum(reinterpret_cast<const uint8_t*>("\x80\x80"), 2), 0);
  // Every constant record and toner table closes to 0 mod 256.
  uint8_t alder[36], birch[40];
  GetTonerParamCmdForAlder(alder);
  GetTonerParamCmdForBirch(birch);
  EXPECT_EQ(CalcChecksum(alder, 36), 0);
  EXPECT_EQ(CalcChecksum(birch, 40), 0);
  EXPECT_EQ(alder[1], 36);
  EXPECT_EQ(birch[1], 40);
  for (const uint8_t* rec : {hostUseCmd, formFeedCmd, queryStatusCmd, resetCmd, machineDuplexCmd,
                             manualDuplexCmd_C, manualDuplexCmd_Z, abortCmd}) {
    EXPECT_EQ(CalcChecksum(rec, rec[1]), 0) << Hex(std::string(rec, rec + rec[1]));
  }
}

struct CoverageCase {
  uint32_t dots;
  int resolution, density, widthMm;
  uint16_t value;
};

TEST(Records, CoverageUsesSinglePrecisionFactors) {
  const CoverageCase cases[] = {
      {10000, 600, 0, 210, 6},         // 0.7f makes 6.99999..., not 7
      {2000000, 600, 2, 210, 2000},    {2000000, 600, 0, 100, 2799},
      {3000000, 1200, 3, 148, 1350},   {1000000, 600, 2, 125, 1000},
      {1000000, 600, 2, 124, 2000},    {1000000, 600, 2, 126, 1500},
      {1000000, 600, 2, 174, 1500},    {1000000, 600, 2, 175, 1000},
      {1000000, 600, -1, 210, 1000},   {1000000, 600, 5, 210, 1000},
      {1000000, 600, 4, 210, 1200},    {4294967295u, 600, 2, 100, (8589934 % 65536)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CoverageValue(c.dots, c.resolution, c.density, c.widthMm), c.value)
        << c.dots << " dots, " << c.resolution << " dpi, density " << c.density << ", "
        << c.widthMm << " mm";
  }
  PrntPageEndInfo info;
  info.resolution = 600;
  info.density = 2;
  info.paperWidthMm = 210;
  uint8_t rec[6];
  GetCoverageCmd_C(&info, 2000000, rec);
  EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(rec), 6)), Hex(H("0B 06 1E D0 07 FA")));
  EXPECT_EQ(info.coverage, 2000);
}

}  // namespace

}  // namespace lumora::test
