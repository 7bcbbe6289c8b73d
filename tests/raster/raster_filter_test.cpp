// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoLumora run as the scheduler runs it, on real rasters, read back
// with the stream reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "filter_harness.h"
#include "halftone/halftone.h"
#include "stream/commands.h"

namespace lumora::test {

using namespace lumora::test;

namespace {

// Three pages: text, a gray ramp, and a smooth photo-like shading.
const char kSampleDocument[] = R"PS(%!PS-Adobe-3.0
/Helvetica findfont 28 scalefont setfont
72 760 moveto (Lumora test page: text) show
/Times-Roman findfont 11 scalefont setfont
0 1 40 { /i exch def 72 720 i 16 mul sub moveto
  (The quick brown fox jumps over the lazy dog. 0123456789) show } for
showpage
0 1 15 { /i exch def i 15 div setgray 60 i 45 mul add 100 40 600 rectfill } for
0 setgray 60 80 moveto /Helvetica findfont 14 scalefont setfont (gray ramp) show
showpage
<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [300 420 0 300 420 330]
   /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1.3 >> >> shfill
showpage
)PS";

class SampleDocument : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    WriteFile(dir_->File("sample.ps"), kSampleDocument);
    rendered_ = RenderPostScript(dir_->File("sample.ps"), dir_->File("sample.ras"), 600, 595, 842);
  }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir* dir_;
  static bool rendered_;
};
TempDir* SampleDocument::dir_ = nullptr;
bool SampleDocument::rendered_ = false;

struct Family {
  const char* model;
  inspect::Dialect dialect;
  int platform;
};

// The screened page the filter must have sent for this input page.
std::vector<uint8_t> ExpectedScreen(const RasterInput& in, const inspect::Page& page,
                                    const char* model, int platform, uint32_t* dots) {
  std::vector<uint8_t> img = PageImage(in, page.width, page.height);
  std::vector<uint8_t> bits(static_cast<size_t>(page.width) * page.height / 8);
  uint32_t coverage = 0;
  ScreenJob job{model, &coverage, nullptr};
  HalftoneRequest request;
  request.src = img.data();
  request.width = static_cast<int>(page.width);
  request.lines = page.height;
  request.dst = bits.data();
  request.limit = in.header.cupsBytesPerLine;
  request.platform = platform;
  HalftoneDither(job, request);
  *dots = 0;
  for (uint8_t b : bits) *dots += static_cast<uint32_t>(__builtin_popcount(b));
  return bits;
}

}  // namespace

TEST_F(SampleDocument, EveryFamilyPrintsTheScreenedPagesExactly) {
  ASSERT_TRUE(rendered_) << "ghostscript could not render the sample";
  const std::vector<RasterInput> input = ReadRasterFile(dir_->File("sample.ras"));
  ASSERT_EQ(input.size(), 3u);

  const Family families[] = {
      {"Lumora Hazel H1 Series", inspect::Dialect::kC, 1},
      {"Lumora Hazel M2 Series", inspect::Dialect::kC, 1},
      {"Lumora Cedar C300 Series", inspect::Dialect::kZ, 2},
      {"Lumora Willow Plus Series", inspect::Dialect::kZ, 2},
      {"Lumora Elm E200 Series", inspect::Dialect::kM, 3},
  };
  for (const Family& f : families) {
    SCOPED_TRACE(f.model);
    TempDir dir;
    FilterJob job;
    job.model = f.model;
    FilterRun run = RunRasterFilterOnFile(dir, job, dir_->File("sample.ras"));
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_NE(run.result.err.find("INFO: Ready to print.\n"), std::string::npos);
    const inspect::JobStream& js = run.stream;
    ASSERT_TRUE(js.ok()) << js.errors.front().offset << ": " << js.errors.front().message;
    EXPECT_EQ(js.dialect, f.dialect);
    EXPECT_TRUE(js.jobEnd);
    ASSERT_EQ(js.pages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      const inspect::Page& page = js.pages[i];
      SCOPED_TRACE(i + 1);
      if (f.dialect != inspect::Dialect::kM) {
        EXPECT_EQ(page.number, i + 1);  // PLATFORM_M pages carry no number
      }
      EXPECT_EQ(page.paperName, "A4");
      EXPECT_EQ(page.copies, 1u);
      ASSERT_TRUE(page.decoded);
      uint32_t dots = 0;
      const std::vector<uint8_t> expect = ExpectedScreen(input[i], page, f.model, f.platform, &dots);
      ASSERT_EQ(page.bits.size(), expect.size());
      EXPECT_TRUE(page.bits == expect) << "decoded page differs from the screened page";
      EXPECT_EQ(page.dots, dots);
      if (f.dialect == inspect::Dialect::kZ) {
        EXPECT_EQ(page.coverage, static_cast<int>((dots / 1000) % 65536));
        EXPECT_EQ(page.bands, (page.height + 255) / 256);
      } else if (f.dialect == inspect::Dialect::kC) {
        EXPECT_EQ(page.coverage, CoverageValue(dots, 600, 2, 209));
      } else {
        EXPECT_GE(page.chunks, 1u);
      }
    }
    // The job start says who and what.
    if (f.dialect == inspect::Dialect::kM) {
      EXPECT_EQ(js.pages[0].density, 2);  // PLATFORM_M sends it per page
    } else {
      EXPECT_EQ(js.job.density, 2);
    }
    if (f.dialect != inspect::Dialect::kM) {
      EXPECT_EQ(js.job.jobFlags, 0x10);
    }
    if (f.dialect == inspect::Dialect::kZ) {
      EXPECT_FALSE(js.job.jobOwner.empty());
    }
  }
}

TEST(RasterFilter, BadInvocationsFailWithoutOutput) {
  TempDir dir;
  WriteFile(dir.File("q.ppd"), RasterPpd("Lumora Elm E100 Series"));
  WriteRaster(dir.File("one.ras"), {PageOfSize(595, 842, 64, 8)});
  const std::string bin = BinPath("rastertoLumora");
  struct Case {
    std::vector<std::string> argv;
    std::map<std::string, std::string> env;
    std::vector<std::string> unset;
    const char* message;
  };
  const Case cases[] = {
      {{bin, "1", "u", "t", "1"}, {{"PPD", dir.File("q.ppd")}}, {}, "ERROR: job-id user title copies options [file]\n"},
      {{bin, "1", "u", "t", "1", "", dir.File("one.ras"), "x"}, {{"PPD", dir.File("q.ppd")}}, {},
       "ERROR: job-id user title copies options [file]\n"},
      {{bin, "1", "u", "t", "1", "", dir.File("missing.ras")}, {{"PPD", dir.File("q.ppd")}}, {},
       "ERROR: Unable to open raster file - "},
      {{bin, "1", "u", "t", "1", "", dir.File("one.ras")}, {}, {"PPD"}, "ERROR: No PPD file"},
      {{bin, "1", "u", "t", "1", "", dir.File("one.ras")}, {{"PPD", dir.File("nope.ppd")}}, {},
       "ERROR: Unable to open the PPD file"},
  };
  for (const Case& c : cases) {
    RunOptions o;
    o.argv = c.argv;
    o.env = c.env;
    o.unsetEnv = c.unset;
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, "") << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST(RasterFilter, EmptyStreamHasNoPages) {
  TempDir dir;
  WriteFile(dir.File("empty.ras"), "");
  FilterRun run = RunRasterFilterOnFile(dir, FilterJob(), dir.File("empty.ras"));
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.out, "");
  EXPECT_NE(run.result.err.find("ERROR: No pages found!\n"), std::string::npos);

  // A raster with its sync word and nothing else is just as empty.
  WriteRaster(dir.File("nopage.ras"), {});
  run = RunRasterFilterOnFile(dir, FilterJob(), dir.File("nopage.ras"));
  EXPECT_EQ(run.result.status, 1);
  EXPECT_NE(run.result.err.find("ERROR: No pages found!\n"), std::string::npos);
}

TEST(RasterFilter, LinesAreCroppedPaddedAndProgressReported) {
  TempDir dir;
  // Elm A5 image: 3264 x 4736. Page 1 lines are wider (centre-cropped) and
  // longer (extra lines dropped); page 2 lines narrower and fewer.
  RasterPage wide = PageOfSize(420, 595, 3300, 4800);
  wide.pixel = [](unsigned x, unsigned y) { return static_cast<uint8_t>((x * 7 + y * 3) & 0xFF); };
  RasterPage narrow = PageOfSize(420, 595, 1000, 300);
  narrow.pixel = [](unsigned x, unsigned y) { return static_cast<uint8_t>((x ^ y) & 0xFF); };
  FilterJob job;
  job.model = "Lumora Elm E100 Series";
  FilterRun run = RunRasterFilter(dir, job, {wide, narrow});
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  ASSERT_EQ(run.stream.pages.size(), 2u);
  const std::vector<RasterInput> input = ReadRasterFile(dir.File("job.ras"));
  for (size_t i = 0; i < 2; ++i) {
    const inspect::Page& page = run.stream.pages[i];
    EXPECT_EQ(page.width, 3264u);
    EXPECT_EQ(page.height, 4736u);
    uint32_t dots = 0;
    EXPECT_TRUE(page.bits == ExpectedScreen(input[i], page, job.model.c_str(), 3, &dots)) << i;
  }
  // Progress at lines 0, 128, 256, ... of each page.
  size_t count = 0;
  for (size_t p = run.result.err.find("INFO: Printing page 1, "); p != std::string::npos;
       p = run.result.err.find("INFO: Printing page 1, ", p + 1))
    ++count;
  EXPECT_EQ(count, (4800u + 127) / 128);
  EXPECT_NE(run.result.err.find("INFO: Printing page 2, 85% complete...\n"), std::string::npos);
  EXPECT_NE(run.result.err.find("PAGE: 2 1\n"), std::string::npos);
}

TEST(RasterFilter, CustomSizesAndHighResolution) {
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Cedar C300 Series";
  job.ppdExtra = "*HWMargins: 0 0 0 0\n";
  FilterRun run = RunRasterFilter(dir, job, {PageOfSize(300, 400, 2500, 3333)});
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  ASSERT_EQ(run.stream.pages.size(), 1u);
  EXPECT_EQ(run.stream.pages[0].paperCode, 0u);
  EXPECT_EQ(run.stream.pages[0].imageWidth, 2528u);
  EXPECT_EQ(run.stream.pages[0].imageHeight, 3336u);
  EXPECT_EQ(run.stream.pages[0].paperWidth, 2500u);
  EXPECT_EQ(run.stream.pages[0].paperHeight, 3333u);

  // PLATFORM_C at 1200 x 1200 dpi: the table's image doubled, codes 120/120.
  TempDir dir2;
  job.model = "Lumora Hazel H1 Series";
  RasterPage hi = PageOfSize(595, 842, 9920, 14032);
  hi.resolution[0] = hi.resolution[1] = 1200;
  run = RunRasterFilter(dir2, job, {hi});
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  ASSERT_EQ(run.stream.pages.size(), 1u);
  EXPECT_EQ(run.stream.pages[0].hResolution, 1200);
  EXPECT_EQ(run.stream.pages[0].vResolution, 1200);
  EXPECT_EQ(run.stream.pages[0].width, 9600u);
  EXPECT_EQ(run.stream.pages[0].height, 13560u);
}

TEST(RasterFilter, AbsurdPageSizesAreRefusedNotCrashed) {
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Hazel H1 Series";
  RasterPage huge = PageOfSize(100000, 100000, 64, 16);
  RasterPage zero = PageOfSize(0, 0, 64, 16);
  RasterPage normal = PageOfSize(595, 842, 64, 16);
  FilterRun run = RunRasterFilter(dir, job, {huge, zero, normal});
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_NE(run.result.err.find("ERROR: Page 1 is 100000x100000 points"), std::string::npos);
  ASSERT_TRUE(run.stream.ok());
  ASSERT_EQ(run.stream.pages.size(), 1u);
  EXPECT_EQ(run.stream.pages[0].number, 1u);

  // Nothing printable at all: no job, status 1.
  TempDir dir2;
  run = RunRasterFilter(dir2, job, {huge});
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.out, "");
  EXPECT_NE(run.result.err.find("ERROR: No pages found!\n"), std::string::npos);
}

}  // namespace lumora::test
