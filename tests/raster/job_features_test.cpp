// SPDX-License-Identifier: GPL-2.0-or-later
// Manual duplex, collated copies, blank back sides, turned pages, cancel and
// keep-alive of rastertoLumora, checked on the stream it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "filter_harness.h"
#include "halftone/halftone.h"
#include "stream/records.h"

namespace lumora::test {

using namespace lumora::test;

namespace {

// Small A4 pages whose content says which page they are.
std::vector<RasterPage> NumberedPages(int count, unsigned duplex = 0, unsigned tumble = 0,
                                      unsigned copies = 1) {
  std::vector<RasterPage> pages;
  for (int i = 1; i <= count; ++i) {
    RasterPage p = PageOfSize(595, 842, 256, 64);
    p.duplex = duplex;
    p.tumble = tumble;
    p.numCopies = copies;
    p.pixel = [i](unsigned x, unsigned y) -> uint8_t {
      return (x / 16 < static_cast<unsigned>(i) && y < 32) ? 0 : 255;
    };
    pages.push_back(p);
  }
  return pages;
}

const char kManualDuplexPpd[] =
    "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n"
    "*cupsIPPReason MDuplex/Turn the printed stack over and put it back, then press OK.: \"\"\n";

std::string Copies(const inspect::JobStream& js) {
  std::string s;
  for (const auto& p : js.pages) s += std::to_string(p.copies);
  return s;
}

}  // namespace

TEST(ManualDuplex, FrontsThenBlankAndBacksInReverse) {
  for (const char* order : {"outputorder=False", "outputorder=True"}) {
    TempDir dir;
    FilterJob job;
    job.model = "Lumora Cedar C200 Series";
    job.ppdExtra = kManualDuplexPpd;
    job.options = order;
    FilterRun run = RunRasterFilter(dir, job, NumberedPages(5, 1, 0));
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    ASSERT_TRUE(run.stream.ok()) << run.stream.errors.front().message;
    EXPECT_EQ(PageOrder(run.stream),
              strcmp(order, "outputorder=False") == 0 ? "1 3 5 MD 6 4 2" : "1 3 5 MD 4 2 6");
    EXPECT_NE(run.result.err.find("INFO:Turn the printed stack over and put it back, then press OK.\n"),
              std::string::npos);
    EXPECT_TRUE(ListDir(dir.File("tmp")).empty());  // no spool file left
  }
}

TEST(ManualDuplex, CollatedAndUncollatedCopies) {
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Cedar C200 Series";
  job.ppdExtra = kManualDuplexPpd;
  job.options = "Collate=True";
  FilterRun run = RunRasterFilter(dir, job, NumberedPages(4, 1, 0, 2));
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  EXPECT_EQ(PageOrder(run.stream), "1 3 1 3 MD 4 2 4 2");
  EXPECT_EQ(Copies(run.stream), "11111111");

  TempDir dir2;
  job.options = "";
  run = RunRasterFilter(dir2, job, NumberedPages(4, 1, 0, 2));
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(PageOrder(run.stream), "1 3 MD 4 2");
  EXPECT_EQ(Copies(run.stream), "2222");
}

TEST(ManualDuplex, DuplexAskedOnlyFromALaterPage) {
  // Page 1 one-sided, then duplex: the spool files start with page 2.
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Cedar C200 Series";
  job.ppdExtra = kManualDuplexPpd;
  std::vector<RasterPage> pages = NumberedPages(4, 1, 0);
  pages[0].duplex = 0;
  FilterRun run = RunRasterFilter(dir, job, pages);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  EXPECT_EQ(PageOrder(run.stream), "1 3 MD 4 2");
  EXPECT_TRUE(ListDir(dir.File("tmp")).empty());
}

TEST(ManualDuplex, LongJobsReplayEveryBackSide) {
  // More back sides than a fixed table of 1024 could hold would be slow here;
  // 301 pages show the table grows and the order holds.
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Cedar C200 Series";
  job.ppdExtra = kManualDuplexPpd;
  std::vector<RasterPage> pages;
  for (int i = 0; i < 301; ++i) {
    RasterPage p = PageOfSize(72, 72, 32, 8);  // small custom pages keep it quick
    p.duplex = 1;
    pages.push_back(p);
  }
  FilterRun run = RunRasterFilter(dir, job, pages);
  ASSERT_EQ(run.result.status, 0);
  ASSERT_TRUE(run.stream.ok());
  ASSERT_EQ(run.stream.pages.size(), 302u);
  EXPECT_EQ(run.stream.pages[150].number, 301u);
  EXPECT_EQ(run.stream.pages[151].number, 302u);  // blank back of page 301
  EXPECT_EQ(run.stream.pages[152].number, 300u);
  EXPECT_EQ(run.stream.pages[301].number, 2u);
}

TEST(Collate, CopiesAreReplayedWithTheBlankBackSide) {
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Hazel H1 Series";
  job.options = "Collate=True";
  FilterRun run = RunRasterFilter(dir, job, NumberedPages(3, 1, 0, 3));
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  EXPECT_EQ(PageOrder(run.stream), "1 2 3 4 1 2 3 4 1 2 3 4");
  EXPECT_EQ(Copies(run.stream), "111111111111");

  TempDir dir2;
  job.options = "";
  run = RunRasterFilter(dir2, job, NumberedPages(3, 1, 0, 3));
  ASSERT_EQ(run.result.status, 0);
  EXPECT_EQ(PageOrder(run.stream), "1 2 3 4");
  EXPECT_EQ(Copies(run.stream), "3333");
  // The blank page is white and marked for the duplex unit like page 3.
  EXPECT_EQ(run.stream.pages[3].dots, 0u);
  // Odd pages end with the machine-duplex record; the job end adds one more
  // after the blank page for an odd page count.
  EXPECT_TRUE(run.stream.pages[0].machineDuplex);
  EXPECT_FALSE(run.stream.pages[1].machineDuplex);
  EXPECT_TRUE(run.stream.pages[2].machineDuplex);
  EXPECT_TRUE(run.stream.pages[3].machineDuplex || run.stream.machineDuplexAtJobEnd);

  // A single collated copy needs no spool file and no replay.
  TempDir dir3;
  job.options = "Collate=True";
  run = RunRasterFilter(dir3, job, NumberedPages(2, 0, 0, 1));
  EXPECT_EQ(PageOrder(run.stream), "1 2");
}

// The blank back side is encoded like the pages of its job: 768-line
// stripes at 600 dpi and 384 at 1200 dpi on PLATFORM_C, automatic duplex and
// manual duplex alike, and it decodes white.
TEST(BlankPages, BackSideMatchesTheJobsResolution) {
  struct Case {
    const char* options;
    unsigned duplex;
    int pages;
    unsigned dpi;
    unsigned stripe;
    size_t blankIndex;
  } cases[] = {{"", 1, 3, 600, 768, 3},
               {"ManualDuplex=True", 0, 5, 600, 768, 3},  // 1 3 5 MD 6 4 2
               {"", 1, 3, 1200, 384, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " at " + std::to_string(c.dpi));
    TempDir dir;
    FilterJob job;
    job.model = "Lumora Hazel H1 Series";
    job.options = c.options;
    std::vector<RasterPage> pages = NumberedPages(c.pages, c.duplex);
    for (RasterPage& p : pages) p.resolution[0] = p.resolution[1] = c.dpi;
    FilterRun run = RunRasterFilter(dir, job, pages);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    ASSERT_TRUE(run.stream.ok()) << run.stream.errors.front().message;
    ASSERT_GT(run.stream.pages.size(), c.blankIndex);
    const inspect::Page& blank = run.stream.pages[c.blankIndex];
    EXPECT_EQ(blank.number, c.pages + 1);
    for (const inspect::Page& p : run.stream.pages) {
      EXPECT_EQ(p.stripeLines, c.stripe) << "page " << p.number;
      EXPECT_EQ(p.jbigL0, c.stripe) << "page " << p.number;
    }
    EXPECT_TRUE(blank.decoded);
    EXPECT_EQ(blank.dots, 0u);
  }
}

TEST(Turning, BackSidesAndA5LongEdgeArriveTurned) {
  // Long-edge duplex on PLATFORM_M: page 2 is turned by half a turn.
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Elm E200 Series";
  std::vector<RasterPage> pages = NumberedPages(2, 1, 0);
  FilterRun run = RunRasterFilter(dir, job, pages);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_TRUE(run.stream.ok());
  ASSERT_EQ(run.stream.pages.size(), 2u);
  const std::vector<RasterInput> input = ReadRasterFile(dir.File("job.ras"));
  for (int i = 0; i < 2; ++i) {
    const inspect::Page& page = run.stream.pages[i];
    std::vector<uint8_t> img = PageImage(input[i], page.width, page.height);
    if (i == 1) std::reverse(img.begin(), img.end());
    std::vector<uint8_t> bits(img.size() / 8);
    uint32_t coverage = 0;
    ScreenJob screen{job.model.c_str(), &coverage, nullptr};
    HalftoneRequest request;
    request.src = img.data();
    request.width = static_cast<int>(page.width);
    request.lines = page.height;
    request.dst = bits.data();
    request.platform = PLATFORM_M;
    HalftoneDither(screen, request);
    EXPECT_TRUE(page.bits == bits) << "page " << i + 1;
  }

  // A5 fed long edge first (421 x 595): a quarter turn, the long-edge code
  // and the turned sizes in the page record.
  TempDir dir2;
  RasterPage a5 = PageOfSize(421, 595, 3264, 4736);
  a5.pixel = [](unsigned x, unsigned y) -> uint8_t { return (x < 100 && y < 50) ? 0 : 255; };
  run = RunRasterFilter(dir2, job, {a5});
  ASSERT_EQ(run.result.status, 0);
  ASSERT_TRUE(run.stream.ok());
  const inspect::Page& page = run.stream.pages[0];
  EXPECT_EQ(page.paperCode, 61u);
  EXPECT_TRUE(page.longEdge);
  EXPECT_EQ(page.width, 4736u);
  EXPECT_EQ(page.height, 3264u);
  EXPECT_EQ(page.imageWidth, 4736u);
  // The dark corner at the top left of the sheet ends at the top right.
  EXPECT_EQ(page.Level(4736 - 10, 10), 1);
  EXPECT_EQ(page.Level(10, 10), 0);
  EXPECT_EQ(page.Level(4736 - 10, 98), 1);
  EXPECT_EQ(page.Level(4736 - 60, 10), 0);
}

TEST(Cancel, SigtermMidPageLeavesAValidStream) {
  struct Case {
    const char* model;
    bool jobEnd;
  };
  for (const Case c : {Case{"Lumora Hazel H1 Series", true}, Case{"Lumora Cedar C200 Series", true},
                       Case{"Lumora Elm E100 Series", false}}) {
    SCOPED_TRACE(c.model);
    TempDir dir;
    FilterJob job;
    job.model = c.model;
    job.ppdExtra = kManualDuplexPpd;
    std::vector<RasterPage> pages;
    for (int i = 0; i < 3; ++i) {
      RasterPage p = PageOfSize(595, 842, 4960, 7016);
      p.duplex = 1;
      p.pixel = [](unsigned x, unsigned y) { return static_cast<uint8_t>((x + y) & 0xFF); };
      pages.push_back(p);
    }
    // Cancel as soon as the first page start reaches the device: the filter
    // is then reading the page's lines.
    std::atomic<bool> sent{false};
    job.onOutput = [&sent](pid_t pid, const std::string& out) {
      if (!sent && out.size() > 150) {
        kill(pid, SIGTERM);
        sent = true;
      }
    };
    FilterRun run = RunRasterFilter(dir, job, pages);
    ASSERT_TRUE(sent);
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.stream.jobEnd, c.jobEnd);
    if (c.jobEnd) {
      EXPECT_TRUE(run.stream.ok()) << run.stream.errors.front().message;
      EXPECT_GE(run.stream.pages.size(), 1u);
      EXPECT_LE(run.stream.pages.size(), 2u);
    } else {
      // PLATFORM_M stops after the page start: every record written is whole.
      for (const auto& e : run.stream.errors)
        EXPECT_EQ(e.message.find("checksum"), std::string::npos) << e.message;
      EXPECT_TRUE(run.stream.pages.empty() || !run.stream.pages.back().decoded);
    }
    EXPECT_TRUE(ListDir(dir.File("tmp")).empty());  // no spool file left
  }
}

TEST(KeepAlive, FillersFallOnlyBetweenRecords) {
  TempDir dir;
  FilterJob job;
  job.model = "Lumora Cedar C300 Series";
  job.env["LUMORA_KEEPALIVE_INTERVAL_MS"] = "5";
  std::vector<RasterPage> pages;
  for (int i = 0; i < 3; ++i) {
    RasterPage p = PageOfSize(595, 842, 4960, 7016);
    p.pixel = [](unsigned x, unsigned y) { return static_cast<uint8_t>((x * y) & 0xFF); };
    pages.push_back(p);
  }
  FilterRun run = RunRasterFilter(dir, job, pages);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_TRUE(run.stream.ok()) << run.stream.errors.front().message;
  EXPECT_EQ(run.stream.pages.size(), 3u);
  EXPECT_TRUE(run.stream.jobEnd);
  // The same job without the fast timer is shorter: fillers were sent.
  TempDir quiet;
  job.env.clear();
  FilterRun plain = RunRasterFilter(quiet, job, pages);
  ASSERT_TRUE(plain.stream.ok());
  EXPECT_GT(run.result.out.size(), plain.result.out.size());
  EXPECT_EQ((run.result.out.size() - plain.result.out.size()) % 2, 0u);
}

// Collated copies and manual duplex on a spool disk that fills up: the job
// stops with an ERROR line and status 1, and the printer still gets a whole
// stream that ends with the job end.
TEST(SpoolFiles, FullDiskStopsTheJobWithItsJobEnd) {
  struct Case {
    const char* model;
    const char* ppdExtra;
    const char* options;
    unsigned copies;
    int pages;
  } cases[] = {{"Lumora Cedar C300 Series", "", "Collate=True", 3, 3},
               {"Lumora Cedar C200 Series", kManualDuplexPpd, "", 1, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    TempDir dir;
    const std::string tmp = dir.File("tmp");
    mkdir(tmp.c_str(), 0700);
    if (mount("tmpfs", tmp.c_str(), "tmpfs", 0, "size=16k") != 0) GTEST_SKIP() << "cannot mount tmpfs";
    FilterJob job;
    job.model = c.model;
    job.ppdExtra = c.ppdExtra;
    job.options = c.options;
    std::vector<RasterPage> pages;
    for (int i = 0; i < c.pages; ++i) {
      RasterPage p = PageOfSize(595, 842, 4960, 7016);
      p.duplex = 1;
      p.numCopies = c.copies;
      p.pixel = [i](unsigned x, unsigned y) { return static_cast<uint8_t>((x * 31 + y * 17 + i) & 0xFF); };
      pages.push_back(p);
    }
    FilterRun run = RunRasterFilter(dir, job, pages);
    umount(tmp.c_str());
    EXPECT_EQ(run.result.status, 1);
    EXPECT_NE(run.result.err.find("ERROR: Unable to write the temporary spool file"), std::string::npos)
        << run.result.err;
    EXPECT_TRUE(run.stream.ok()) << run.stream.errors.front().message;
    EXPECT_TRUE(run.stream.jobEnd);
  }
}

}  // namespace lumora::test
