// SPDX-License-Identifier: GPL-2.0-or-later
// HalftoneDither against a plain pixel-by-pixel screen written from the
// definition (OR into bit 0, shift, complement completed bytes), on random
// and page-like images for every matrix and output mode, including widths
// that are not a multiple of the period or of 8.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "halftone.h"

namespace lumora::test {

namespace {

enum Mode { kCZ, kM1, kM2 };

// The plain screen. Only whole bytes are written and counted: the 1-7
// pixels of an incomplete last byte have no room in the output block.
uint32_t ReferenceScreen(const std::vector<uint8_t>& src, int width, int lines, const uint8_t* m,
                         int period, Mode mode, bool negative, std::vector<uint8_t>* dst) {
  uint32_t coverage = 0, pending = 0;
  size_t out = 0;
  int n = 0;
  const int perByte = mode == kM2 ? 4 : 8;
  uint8_t byte = 0;
  for (int y = 0, r = 0; y < lines; ++y, r = (r + 1) % period) {
    for (int x = 0, c = 0; x < width; ++x, c = (c + 1) % period) {
      const uint8_t v = src[static_cast<size_t>(y) * width + x], t = m[r * period + c];
      if (mode == kM2) {
        int g = v == 0 ? 255 : 255 - v - t;
        int e = HT_TABLE_2BIG[g < 0 ? 0 : g];
        if (negative) e = 3 - e;
        byte |= e;
      } else {
        int bit = mode == kM1 && negative ? v >= t : v < t;
        byte |= bit;
        if (mode == kCZ && bit != (negative ? 1 : 0)) ++pending;
      }
      if (++n < perByte) {
        byte = static_cast<uint8_t>(byte << (mode == kM2 ? 2 : 1));
      } else {
        if (mode == kCZ && negative) byte = static_cast<uint8_t>(~byte);
        (*dst)[out++] = byte;
        byte = 0;
        n = 0;
        coverage += pending;
        pending = 0;
      }
    }
  }
  return coverage;
}

struct Case {
  const char* name;
  int platform, dpi1200;
  bool willow;
  const uint8_t* matrix;
  int period;
  Mode mode;
};

const Case kCases[] = {
    {"C600", 1, 0, false, &HT_TABLE_600[0][0], 16, kCZ},
    {"C1200", 1, 1, false, &HT_TABLE_1200_C[0][0], 28, kCZ},
    {"Z600", 2, 0, false, &HT_TABLE_600[0][0], 16, kCZ},
    {"Z1200", 2, 1, false, &HT_TABLE_1200_Z[0][0], 16, kCZ},
    {"Willow600", 2, 0, true, &NEW_HT_TABLE_600_Z_M[0][0], 96, kCZ},
    {"Willow1200", 2, 1, true, &NEW_HT_HALFTONE_1200_Z[0][0], 96, kCZ},
    {"C1200OnWillow", 1, 1, true, &HT_TABLE_1200_C[0][0], 28, kCZ},
    {"M600", 3, 0, false, &HT_TABLE_600[0][0], 16, kM1},
    {"M1200", 3, 1, false, &HT_TABLE_600[0][0], 16, kM2},
    {"M1200OnWillow", 3, 1, true, &HT_TABLE_600[0][0], 16, kM2},
};

const char kWillow[] = "Lumora Willow Plus Series";

// Page-like content: white with black text strokes, gray ramps, noise.
std::vector<uint8_t> MakePage(int width, int lines, std::mt19937* rng) {
  std::vector<uint8_t> page(static_cast<size_t>(width) * lines);
  std::uniform_int_distribution<int> byte(0, 255), kind(0, 3);
  for (int y = 0; y < lines; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t& p = page[static_cast<size_t>(y) * width + x];
      switch ((y / 7 + x / 13) % 4) {
        case 0: p = static_cast<uint8_t>(byte(*rng)); break;
        case 1: p = static_cast<uint8_t>((x * 3 + y) & 255); break;
        case 2: p = kind(*rng) == 0 ? 0 : 255; break;
        default: p = static_cast<uint8_t>(byte(*rng) & 3 ? 255 - (byte(*rng) & 1) : byte(*rng) & 1); break;
      }
    }
  return page;
}

// What the screen is given of the job: the model, the dot count so far.
struct ScreenSetup {
  std::string model = "Lumora Birch Series";
  uint32_t coverage = 0;
};
ScreenSetup gSetup;

struct StringLog : lumora::LogOutput {
  std::string text;
  void Line(const char* line) override { text += line; }
};

struct ScreenResult {
  int ret;
  std::vector<uint8_t> out;
  uint32_t coverage;
  std::string log;
};

// Runs the screen on dst padded with a guard band that must stay untouched.
ScreenResult RunScreen(const std::vector<uint8_t>& page, int width, int lines, size_t outBytes, int negative,
           int dpi1200, int platform, bool nullSrc = false, bool nullDst = false) {
  ScreenResult run;
  run.out.assign(outBytes + 16, 0);
  for (size_t i = outBytes; i < run.out.size(); ++i) run.out[i] = 0xA5;
  StringLog log;
  uint32_t coverage = gSetup.coverage;
  ScreenJob job{gSetup.model.c_str(), &coverage, &log};
  HalftoneRequest request;
  request.src = nullSrc ? nullptr : page.data();
  request.width = width;
  request.lines = static_cast<uint32_t>(lines);
  request.dst = nullDst ? nullptr : run.out.data();
  request.negative = negative != 0;
  request.dpi1200 = dpi1200 != 0;
  request.platform = platform;
  run.ret = HalftoneDither(job, request);
  run.log = log.text;
  for (size_t i = outBytes; i < run.out.size(); ++i) EXPECT_EQ(run.out[i], 0xA5) << "write past the block";
  run.out.resize(outBytes);
  run.coverage = coverage;
  return run;
}

TEST(HalftoneDither, MatchesPlainScreenForEveryMatrixAndMode) {
  std::mt19937 rng(20261209);
  // Widths: multiples of 64 and of the periods, then widths that are not a
  // multiple of 16/28/96, of 8 (rows start inside a byte) or of 4.
  const int widths[] = {4736, 192, 448, 40, 1000, 100, 36, 33, 7, 1, 203};
  for (const Case& k : kCases) {
    for (int width : widths) {
      const int lines = 1 + static_cast<int>(rng() % 220);
      const auto page = MakePage(width, lines, &rng);
      for (int negative = 0; negative <= 1; ++negative) {
        SCOPED_TRACE(std::string(k.name) + " width " + std::to_string(width) + " lines " +
                     std::to_string(lines) + (negative ? " negative" : ""));
        gSetup = ScreenSetup();
        gSetup.model = k.willow ? kWillow : "Lumora Birch Series";
        gSetup.coverage = 7;  // accumulates over the page
        const size_t bits = static_cast<size_t>(width) * lines * (k.mode == kM2 ? 2 : 1);
        std::vector<uint8_t> want(bits / 8);
        uint32_t cov = ReferenceScreen(page, width, lines, k.matrix, k.period, k.mode, negative, &want);
        ScreenResult run = RunScreen(page, width, lines, bits / 8, negative, k.dpi1200, k.platform);
        EXPECT_EQ(run.ret, 1);
        ASSERT_EQ(run.out, want);
        EXPECT_EQ(run.coverage, k.mode == kCZ ? 7 + cov : 7u);
      }
    }
  }
}

TEST(HalftoneDither, DiagnosticLineAndMatrixChoiceByModelName) {
  struct {
    const char* model;
    int platform;
    bool willow;
  } cases[] = {
      {"Lumora Willow Plus Series", 2, true},
      {"Lumora Willow Plus Series PCL", 2, true},
      {"Lumora Willow Plus Serie", 2, false},
      {"Lumora Willow Plus series", 2, false},
      {"Lumora Willow Series", 2, false},
      {"", 2, false},
      {"Lumora Willow Plus Series", 1, false},
      {"Lumora Willow Plus Series", 3, false},
      {"Lumora Willow Plus Series", 0, false},
  };
  // A mid-gray page screens differently with the supercell and the 16 x 16.
  const int width = 192, lines = 96;
  std::vector<uint8_t> page(width * lines, 128);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " platform " + std::to_string(c.platform));
    gSetup = ScreenSetup();
    gSetup.model = c.model;
    ScreenResult run = RunScreen(page, width, lines, width * lines / 8, 0, 0, c.platform);
    EXPECT_EQ(run.log, c.willow ? "DEBUG: EXTERNAL IMPORT NEW_HALFTONE\n"
                                : "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n");
    if (c.platform == 0) continue;
    std::vector<uint8_t> want(width * lines / 8);
    ReferenceScreen(page, width, lines, c.willow ? &NEW_HT_TABLE_600_Z_M[0][0] : &HT_TABLE_600[0][0],
                    c.willow ? 96 : 16, c.platform == 3 ? kM1 : kCZ, false, &want);
    EXPECT_EQ(run.out, want);
  }
}

TEST(HalftoneDither, RefusesNullBuffersAndUnknownPlatform) {
  std::vector<uint8_t> page(64 * 4, 0);
  struct {
    int platform;
    bool nullSrc, nullDst;
  } cases[] = {{0, false, false}, {4, false, false}, {-1, false, false}, {2, true, false}, {1, false, true}};
  for (const auto& c : cases) {
    gSetup = ScreenSetup();
    ScreenResult run = RunScreen(page, 64, 4, 32, 0, 0, c.platform, c.nullSrc, c.nullDst);
    EXPECT_EQ(run.ret, 0);
    EXPECT_EQ(run.out, std::vector<uint8_t>(32, 0));
    EXPECT_EQ(run.coverage, 0u);
    EXPECT_EQ(run.log, "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n");
  }
  // An empty or negative-width page screens nothing.
  ScreenResult run = RunScreen(page, -64, 4, 0, 0, 0, 2);
  EXPECT_EQ(run.ret, 1);
}

// White and black pages, per mode: output bytes and dots counted.
TEST(HalftoneDither, SolidPages) {
  struct {
    int platform, dpi1200, negative, gray;
    uint8_t byte;
    uint32_t dots;
  } cases[] = {
      {2, 0, 0, 255, 0x00, 0},    {2, 0, 1, 255, 0xFF, 64 * 8}, {1, 1, 0, 0, 0xFF, 64 * 8},
      {1, 0, 1, 0, 0x00, 0},      {3, 0, 0, 0, 0xFF, 0},        {3, 0, 1, 255, 0xFF, 0},
      {3, 1, 0, 0, 0xFF, 0},      {3, 1, 0, 255, 0x00, 0},      {3, 1, 1, 255, 0xFF, 0},
  };
  std::vector<uint8_t> page(64 * 8);
  for (const auto& c : cases) {
    gSetup = ScreenSetup();
    std::fill(page.begin(), page.end(), static_cast<uint8_t>(c.gray));
    const size_t bytes = page.size() / (c.platform == 3 && c.dpi1200 ? 4 : 8);
    ScreenResult run = RunScreen(page, 64, 8, bytes, c.negative, c.dpi1200, c.platform);
    EXPECT_EQ(run.out, std::vector<uint8_t>(bytes, c.byte)) << c.platform << c.dpi1200 << c.negative << c.gray;
    EXPECT_EQ(run.coverage, c.dots);
  }
}

// A sample equal to its threshold does not print (strict v < t), except on
// PLATFORM_M with negative, where v >= t prints; v = 1 against 255 on
// PLATFORM_M at 1200 dpi is an excess of -1: level 0.
TEST(HalftoneDither, ThresholdBoundaries) {
  gSetup = ScreenSetup();
  std::vector<uint8_t> page(16 * 8, 255);
  for (int c = 0; c < 8; ++c) page[c] = HT_TABLE_600[0][c];
  ScreenResult z = RunScreen(page, 16, 8, 16, 0, 0, 2);
  EXPECT_EQ(z.out[0], 0x00);
  ScreenResult m = RunScreen(page, 16, 8, 16, 1, 0, 3);
  EXPECT_EQ(m.out[0], 0xFF);
  page[11] = 1;  // HT_TABLE_600[0][11] is 255
  ScreenResult m2 = RunScreen(page, 16, 8, 32, 0, 1, 3);
  EXPECT_EQ(m2.out[2] & 0x03, 0);
  EXPECT_EQ(HT_TABLE_600[0][11], 255);
}

// The screen is anchored to the page corner and repeats with its period.
TEST(HalftoneDither, MatrixPhaseRepeatsWithThePeriod) {
  // Willow: pixel (97, 97) uses the entry of (1, 1); each probe pixel is
  // one below its entry (prints) or equal (does not).
  gSetup = ScreenSetup();
  gSetup.model = kWillow;
  const int w = 104;
  std::vector<uint8_t> page(w * 98, 255);
  page[97 * w + 97] = NEW_HT_TABLE_600_Z_M[1][1] - 1;  // 1 - 1 = 0: prints
  page[97 * w + 98] = NEW_HT_TABLE_600_Z_M[1][2];       // equal: blank
  ScreenResult run = RunScreen(page, w, 98, w * 98 / 8, 0, 0, 2);
  EXPECT_EQ(run.out[(97 * w + 97) / 8], 0x40);
  EXPECT_EQ(run.coverage, 1u);
  // PLATFORM_C at 1200 dpi: columns 0 and 28 share an entry, 0 and 16 not.
  std::vector<uint8_t> row(32, 255);
  row[0] = row[28] = row[16] = HT_TABLE_1200_C[0][0];  // 2: equal, no dot
  row[16] = HT_TABLE_1200_C[0][16] - 1;
  ASSERT_NE(HT_TABLE_1200_C[0][16], HT_TABLE_1200_C[0][0]);
  ScreenResult c = RunScreen(row, 32, 1, 4, 0, 1, 1);
  EXPECT_EQ(c.out, (std::vector<uint8_t>{0, 0, 0x80, 0}));
}

}  // namespace

}  // namespace lumora::test
