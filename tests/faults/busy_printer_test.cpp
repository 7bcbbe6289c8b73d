// SPDX-License-Identifier: GPL-2.0-or-later
// A printer that is busy: it stops reading, the pipe to it fills, and the
// filter sits in a write when the cancel comes. The write must complete,
// the page in progress must end whole, nothing more may be started (in the
// page loop or in a replay), and the job end must follow. Also: pages the
// filter cannot print are reported, and not counted as printed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <sstream>

#include "faults_support.h"
#include "job_stream_reader.h"

namespace lumora::test {

using namespace faults;

namespace {

// Gray noise: screens to random dots that JBIG cannot shrink, so a page is
// larger than the pipe to the printer.
std::vector<RasterPage> NoisePages(int count, unsigned duplex, unsigned copies) {
  std::vector<RasterPage> pages;
  for (int i = 0; i < count; ++i) {
    RasterPage p = PageOfSize(144, 144, 1200, 1200);
    p.duplex = duplex;
    p.numCopies = copies;
    p.pixel = [i](unsigned x, unsigned y) -> uint8_t {
      uint32_t v = (x + 1) * 2654435761u ^ (y + 7 * i) * 40503u;
      v ^= v >> 15;
      return static_cast<uint8_t>(v * 2246822519u >> 24);
    };
    pages.push_back(p);
  }
  return pages;
}

inspect::JobStream Read(const std::string& out) {
  inspect::ReadOptions o;
  o.keepPixels = false;
  return inspect::ReadJobStream(reinterpret_cast<const uint8_t*>(out.data()), out.size(), o);
}

struct BusyCase {
  const char* name;
  const char* model;
  const char* ppdExtra;
  const char* options;
  unsigned duplex, copies;
  int pages;
  int stallAtPage;  // the printer stops reading inside this page of the stream
};

void PrintTo(const BusyCase& c, std::ostream* os) { *os << c.name; }

const char kManualDuplex[] = "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n";

class BusyPrinter : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyPrinter, CancelWhileBlockedInAWriteEndsThePageAndTheJob) {
  const BusyCase& c = GetParam();
  TempDir dir;
  const std::string ppd = dir.File("q.ppd");
  WriteFile(ppd, RasterPpd(c.model, c.ppdExtra));
  const std::string ras = dir.File("job.ras");
  WriteRaster(ras, NoisePages(c.pages, c.duplex, c.copies));
  Launch l;
  l.program = RasterFilter();
  l.stdinFile = ras;
  l.args = {"9", "bob", "busy", std::to_string(c.copies), c.options};
  // The keep-alive timer interrupts the blocked writes as well.
  const std::string spool = dir.File("spool");
  mkdir(spool.c_str(), 0700);
  l.env = {{"PPD", ppd}, {"TMPDIR", spool}, {"LUMORA_KEEPALIVE_INTERVAL_MS", "15"}};

  const Outcome whole = RunFilter(l);
  ASSERT_EQ(0, whole.status) << "signal " << whole.signal << "\n" << whole.err;
  const inspect::JobStream all = Read(whole.out);
  ASSERT_TRUE(all.ok());
  ASSERT_GT(all.pages.size(), static_cast<size_t>(c.stallAtPage + 2));

  const inspect::Page& stallPage = all.pages[static_cast<size_t>(c.stallAtPage)];
  l.stallAfterOutBytes = static_cast<long>(stallPage.offset + 1000);
  l.stallMs = 700;
  l.termInStallMs = 300;
  const Outcome r = RunFilter(l);
  ASSERT_TRUE(r.termSent);
  EXPECT_EQ(0, r.status) << r.err;
  const inspect::JobStream js = Read(r.out);
  EXPECT_TRUE(js.ok()) << js.errors.front().message << " at " << js.errors.front().offset;
  EXPECT_TRUE(js.jobEnd);
  // When the signal came, the filter had written at most what was read
  // plus what the pipe held: no page may start beyond that.
  const size_t written = static_cast<size_t>(r.outAtTerm + l.pipeBytes);
  for (const inspect::Page& p : js.pages) EXPECT_LT(p.offset, written) << "page " << p.index;
  EXPECT_LT(js.pages.size(), all.pages.size());
  EXPECT_TRUE(ListDir(spool).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Roads, BusyPrinter,
    ::testing::Values(
        BusyCase{"page_loop_C", kRasterModelC, "", "", 0, 1, 6, 1},
        BusyCase{"page_loop_Z", kRasterModelZ, "", "", 0, 1, 6, 1},
        BusyCase{"page_loop_M", kRasterModelM, "", "", 0, 1, 6, 1},
        // The collate replay starts with the stream's page 4.
        BusyCase{"collate_replay_Z", kRasterModelZ, "", "Collate=True", 0, 3, 3, 4},
        // Fronts 1 3 5, the manual-duplex command, then 6 (blank) 4 2.
        BusyCase{"back_side_replay_Z", "Lumora Cedar C200 Series", kManualDuplex, "", 1, 1, 8, 5}),
    [](const ::testing::TestParamInfo<BusyCase>& info) { return std::string(info.param.name); });

// A page the filter cannot print (no memory for its image, a size the
// printer's records cannot carry) gets an ERROR line naming it, no PAGE
// line, and the job goes on with the others.
TEST(DroppedPages, AreReportedAndNotCounted) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  struct Middle {
    const char* name;
    unsigned pointW, pointH;
    long addressSpace;
    const char* error;
  } cases[] = {
      {"too large for memory", 7000, 7000, 400L << 20, "ERROR: Page 2 cannot be printed"},
      {"absurd size", 100000, 100000, 0, "ERROR: Page 2 is 100000x100000 points"},
  };
  for (const Middle& m : cases) {
    SCOPED_TRACE(m.name);
    TempDir dir;
    const std::string ppd = dir.File("q.ppd");
    WriteFile(ppd, RasterPpd(kRasterModelZ));
    std::vector<RasterPage> pages = NoisePages(3, 0, 1);
    pages[1] = PageOfSize(m.pointW, m.pointH, 64, 16);
    WriteRaster(dir.File("job.ras"), pages);
    Launch l;
    l.program = RasterFilter();
    l.stdinFile = dir.File("job.ras");
    l.args = {"9", "bob", "dropped", "1", ""};
    l.env = {{"PPD", ppd}, {"TMPDIR", dir.path()}, {"LUMORA_THREADS", "1"}};
    l.addressSpaceLimit = m.addressSpace;
    const Outcome r = RunFilter(l);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(m.error)) << r.err;
    std::istringstream lines(r.err);
    std::string line, pageLines;
    while (std::getline(lines, line))
      if (line.compare(0, 5, "PAGE:") == 0) pageLines += line + ";";
    EXPECT_EQ("PAGE: 1 1;PAGE: 2 1;", pageLines);
    const inspect::JobStream js = Read(r.out);
    EXPECT_TRUE(js.ok());
    EXPECT_EQ(2u, js.pages.size());
  }
}

}  // namespace

}  // namespace lumora::test
