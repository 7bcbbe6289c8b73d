// SPDX-License-Identifier: GPL-2.0-or-later
// The printer connection gone and the disk full, for both filters and every
// road: an ERROR line, a non-zero status, no hang, no temporary file left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "faults_support.h"

namespace lumora::test {

using namespace faults;

namespace {

struct Road {
  const char* name;
  bool raster;
  std::string model;    // raster model or PostScript nickname
  std::string options;  // argv[5]
  std::string copies = "1";
};

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(spool_.c_str(), 0700);
    WriteFile(dir_.File("ps.ppd.in"), "");
  }

  // The filter's launch for a road with a job of `pages` pages.
  Launch For(const Road& road, int pages, const std::string& tmpdir) {
    Launch l;
    const std::string ppd = dir_.File(std::string(road.name) + ".ppd");
    if (road.raster) {
      WriteFile(ppd, RasterPpd(road.model));
      l.program = RasterFilter();
      l.stdinFile = MakeRasterJob(dir_.File(std::string(road.name) + ".ras"), pages, 144, 144,
                                  static_cast<unsigned>(std::stoi(road.copies)));
    } else {
      WriteFile(ppd, PsPpdText(road.model));
      l.program = PsFilter();
      const std::string ps = dir_.File(std::string(road.name) + ".ps");
      WriteFile(ps, PsJobText(pages, 20000));
      l.stdinFile = ps;
      if (road.model == kLarchNick) {
        l.stdinFile = dir_.File(std::string(road.name) + ".pdf");
        EXPECT_TRUE(MakePdfJob(ps, l.stdinFile));
      }
    }
    l.args = {"17", "alice", "fault job", road.copies, road.options};
    l.env = {{"PPD", ppd}, {"TMPDIR", tmpdir}};
    l.watchdogSeconds = 60;
    return l;
  }

  static std::vector<Road> Roads() {
    return {{"raster_z", true, kRasterModelZ, ""},
            {"raster_z_collate", true, kRasterModelZ, "Collate=True", "2"},
            {"raster_c_duplex", true, kRasterModelC, "Duplex=DuplexNoTumble"},
            {"raster_m", true, kRasterModelM, ""},
            {"ps_plain", false, kPlainNick, ""},
            {"ps_maple", false, kMapleNick, ""},
            {"ps_maple_collate", false, kMapleNick, "Collate", "3"},
            {"pdf_larch", false, kLarchNick, "Duplex=DuplexNoTumble"}};
  }

  TempDir dir_;
  std::string spool_ = dir_.File("spool");
};

void ExpectStoppedWithError(const Outcome& r, const char* road) {
  EXPECT_FALSE(r.hung) << road;
  EXPECT_EQ(0, r.signal) << road;
  EXPECT_EQ(1, r.status) << road << "\n" << r.err.substr(r.err.size() > 3000 ? r.err.size() - 3000 : 0);
  EXPECT_FALSE(ErrorLines(r.err).empty()) << road;
  EXPECT_EQ(std::string::npos, r.err.find("INFO: Ready to print.")) << road;
}

TEST_F(Faults, PrinterGoneStopsEveryRoadWithAnError) {
  for (const Road& road : Roads()) {
    // Enough pages that the job outlives the first failed write.
    Launch l = For(road, road.raster ? 6 : 8, spool_);
    l.output = Output::kClosedPipe;
    Outcome r = RunFilter(l);
    ExpectStoppedWithError(r, road.name);
    EXPECT_TRUE(ListDir(spool_).empty()) << road.name;
  }
}

TEST_F(Faults, FullDeviceStopsEveryRoadWithAnError) {
  for (const Road& road : Roads()) {
    Launch l = For(road, 2, spool_);
    l.output = Output::kDevFull;
    Outcome r = RunFilter(l);
    ExpectStoppedWithError(r, road.name);
    EXPECT_TRUE(ListDir(spool_).empty()) << road.name;
  }
}

// Spool and temporary files on a file system with room for only part of
// what the road keeps there (collated copies, manual duplex, the spooled
// PostScript job, the collated-copy file, the converted PDF): the filter
// must fail loudly instead of printing a job with parts missing.
TEST_F(Faults, FullTemporaryDirectory) {
  TinyTmpfs tiny(dir_.path(), 8192);
  if (!tiny.ok()) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
  const struct {
    Road road;
    double room;  // free space, as a share of what the road writes there
  } cases[] = {
      {{"raster_z_collate", true, kRasterModelZ, "Collate=True", "2"}, 0.2},
      {{"raster_manual_duplex", true, kRasterModelZ, "ManualDuplex=True"}, 0.2},
      {{"ps_spool", false, kPlainNick, ""}, 0.5},
      {{"ps_maple_collate", false, kMapleNick, "Collate", "3"}, 1.5},
      {{"pdf_larch", false, kLarchNick, "Duplex=DuplexNoTumble"}, 0.5},
  };
  for (const auto& c : cases) {
    const Road& road = c.road;
    Launch l = For(road, road.raster ? 8 : 6, tiny.tmpdir());
    // What the road writes: the job stream (raster spool files hold the
    // pages as sent), the job itself (spool, collated copy), or the
    // PostScript the PDF becomes.
    tiny.LeaveFree(64u << 20);
    Outcome full = RunFilter(l);
    ASSERT_EQ(0, full.status) << road.name << full.err;
    const size_t written = road.model == kLarchNick || road.raster
                               ? full.out.size()
                               : ReadFile(l.stdinFile).size();
    tiny.LeaveFree(static_cast<size_t>(written * c.room));
    Outcome r = RunFilter(l);
    ExpectStoppedWithError(r, road.name);
    EXPECT_TRUE(ListDir(tiny.tmpdir()).empty()) << road.name;
  }
}

}  // namespace

}  // namespace lumora::test
