// SPDX-License-Identifier: GPL-2.0-or-later
// Eight raster jobs at once in one process, one thread each, over the three
// dialects with duplex, manual duplex, collated copies, turned pages and
// 1200 dpi: each job's stream is exactly the one rastertoLumora writes for
// the same raster and options (the clock and host fields aside). Built with
// ThreadSanitizer as well, where any data race between the jobs fails it.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cups_filter.h"
#include "memory_output.h"
#include "raster_job.h"
#include "test_support.h"

namespace lumora::test {

using namespace lumora::test;

namespace {

struct JobCase {
  const char* name;
  const char* model;
  const char* ppdExtra;
  const char* options;
  unsigned pointW, pointH, width, height, dpi;
  int pages;
  unsigned duplex, copies;
};

const char kManualDuplex[] = "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n";

const JobCase kJobs[] = {
    {"C duplex", "Lumora Hazel H1 Series", "", "", 298, 420, 2480, 3508, 600, 3, 1, 1},
    {"C 1200 collated", "Lumora Hazel M2 Series", "", "Collate=True", 298, 420, 4960, 7016, 1200,
     2, 0, 2},
    {"Z collated", "Lumora Cedar C300 Series", "", "Collate=True", 298, 420, 2480, 3508, 600, 3,
     0, 2},
    {"Z manual duplex", "Lumora Cedar C200 Series", kManualDuplex, "outputorder=True", 298, 420,
     2480, 3508, 600, 5, 1, 1},
    {"Z A5 long edge, half turn", "Lumora Cedar C300 Series", "",
     "FeedLongEdge=True ImageRotation=True", 420, 595, 3508, 4960, 600, 2, 0, 1},
    {"M duplex", "Lumora Elm E200 Series", "", "", 298, 420, 2480, 3508, 600, 3, 1, 1},
    {"M 1200", "Lumora Elm E300 Series", "", "DPI1200=True", 298, 420, 2480, 3508, 600, 2, 0, 1},
    {"Willow Plus 1200", "Lumora Willow Plus Series", "", "DPI1200=True Duplex=DuplexTumble",
     298, 420, 2480, 3508, 600, 2, 1, 1},
};

std::vector<RasterPage> Pages(const JobCase& c, int salt) {
  std::vector<RasterPage> pages;
  for (int i = 0; i < c.pages; ++i) {
    RasterPage p = PageOfSize(c.pointW, c.pointH, c.width, c.height);
    p.resolution[0] = p.resolution[1] = c.dpi;
    p.duplex = c.duplex;
    p.numCopies = c.copies;
    const unsigned seed = static_cast<unsigned>(salt * 31 + i);
    p.pixel = [seed](unsigned x, unsigned y) -> uint8_t {
      if ((y / 64 + seed) % 3 == 0) return static_cast<uint8_t>((x + y + seed) & 0xFF);
      return ((x / 9 + y / 13 + seed) % 7) == 0 ? 0 : 255;
    };
    pages.push_back(p);
  }
  return pages;
}

lumora::PrinterDescription Describe(const std::string& ppdPath) {
  ppd_file_t* ppd = ppdOpenFile(ppdPath.c_str());
  EXPECT_NE(ppd, nullptr) << ppdPath;
  CupsBinding cups;
  lumora::PrinterDescription printer = DescribePrinter(ppd, cups);
  ppdClose(ppd);
  return printer;
}

// One job driven through the library, as the filter drives it.
std::string RunInProcess(const lumora::PrinterDescription& printer, const JobCase& c,
                         const std::string& rasterPath) {
  MemoryDevice device;
  MemoryLog log;
  lumora::JobHooks hooks;
  hooks.threads = 2;
  lumora::RasterJob job(printer, lumora::JobTicket{"7", "concurrent", c.options}, device, log,
                        hooks);
  const int fd = open(rasterPath.c_str(), O_RDONLY);
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  while (ras != nullptr && cupsRasterReadHeader2(ras, &header) != 0) {
    const lumora::PageStart start = job.StartPage(header);
    if (start == lumora::PageStart::kStop) break;
    std::vector<uint8_t> line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) == 0) break;
      if (start == lumora::PageStart::kPrint) job.WriteLines(line.data(), 1);
    }
    if (start == lumora::PageStart::kPrint && !job.EndPage()) break;
  }
  EXPECT_EQ(job.EndJob(), 0) << c.name;
  if (ras != nullptr) cupsRasterClose(ras);
  close(fd);
  MaskVolatile(device.bytes);
  return device.bytes;
}

std::string RunFilter(const JobCase& c, const std::string& ppd, const std::string& raster,
                      const TempDir& dir) {
  RunOptions o;
  o.argv = {BinPath("rastertoLumora"), "7", "bob", "concurrent", "1", c.options, raster};
  // No keep-alive filler: a slow (instrumented) run must not add one.
  o.env = {{"PPD", ppd},
           {"TMPDIR", dir.path()},
           {"LUMORA_MANUAL_DUPLEX_PAUSE", "0"},
           {"LUMORA_KEEPALIVE_INTERVAL_MS", "100000000"}};
  RunResult r = RunProgram(o);
  EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
  MaskVolatile(r.out);
  return r.out;
}

TEST(ConcurrentJobs, EightJobsAtOnceWriteTheFiltersStreams) {
  TempDir dir;
  const size_t n = sizeof(kJobs) / sizeof(kJobs[0]);
  std::vector<std::string> rasters(n), expected(n), got(n);
  std::vector<lumora::PrinterDescription> printers(n);
  for (size_t i = 0; i < n; ++i) {
    const std::string ppd = dir.File("job" + std::to_string(i) + ".ppd");
    WriteFile(ppd, RasterPpd(kJobs[i].model, kJobs[i].ppdExtra));
    rasters[i] = dir.File("job" + std::to_string(i) + ".ras");
    WriteRaster(rasters[i], Pages(kJobs[i], static_cast<int>(i)));
    printers[i] = Describe(ppd);
    expected[i] = RunFilter(kJobs[i], ppd, rasters[i], dir);
  }
  setenv("TMPDIR", dir.path().c_str(), 1);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i)
    threads.emplace_back([&, i] { got[i] = RunInProcess(printers[i], kJobs[i], rasters[i]); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(kJobs[i].name);
    ASSERT_GT(expected[i].size(), 1000u);
    EXPECT_TRUE(got[i] == expected[i]) << got[i].size() << " bytes against " << expected[i].size();
  }
}

}  // namespace

}  // namespace lumora::test
