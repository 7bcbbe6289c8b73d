// SPDX-License-Identifier: GPL-2.0-or-later
#include "filter_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace lumora::test {

FilterRun RunRasterFilterOnFile(const TempDir& dir, const FilterJob& job,
                                const std::string& rasterPath) {
  const std::string ppd = dir.File("queue.ppd");
  WriteFile(ppd, RasterPpd(job.model, job.ppdExtra));
  mkdir(dir.File("tmp").c_str(), 0700);
  RunOptions o;
  o.argv = {BinPath("rastertoLumora"), "42", "tester", job.title, "1", job.options, rasterPath};
  o.env = {{"PPD", ppd}, {"TMPDIR", dir.File("tmp")}, {"LUMORA_MANUAL_DUPLEX_PAUSE", "0"}};
  for (const auto& kv : job.env) o.env[kv.first] = kv.second;
  o.onOutput = job.onOutput;
  FilterRun run;
  run.result = RunProgram(o);
  const auto* bytes = reinterpret_cast<const uint8_t*>(run.result.out.data());
  run.stream = inspect::ReadJobStream(bytes, run.result.out.size());
  return run;
}

FilterRun RunRasterFilter(const TempDir& dir, const FilterJob& job,
                          const std::vector<RasterPage>& pages) {
  const std::string raster = dir.File("job.ras");
  WriteRaster(raster, pages);
  return RunRasterFilterOnFile(dir, job, raster);
}

std::vector<RasterInput> ReadRasterFile(const std::string& path) {
  std::vector<RasterInput> pages;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return pages;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  RasterInput in;
  while (ras != nullptr && cupsRasterReadHeader2(ras, &in.header)) {
    in.lines.assign(static_cast<size_t>(in.header.cupsBytesPerLine) * in.header.cupsHeight, 255);
    for (unsigned y = 0; y < in.header.cupsHeight; ++y)
      cupsRasterReadPixels(ras, in.lines.data() + static_cast<size_t>(y) * in.header.cupsBytesPerLine,
                           in.header.cupsBytesPerLine);
    pages.push_back(in);
  }
  if (ras != nullptr) cupsRasterClose(ras);
  close(fd);
  return pages;
}

std::vector<uint8_t> PageImage(const RasterInput& in, unsigned imageWidth, unsigned imageHeight) {
  std::vector<uint8_t> img(static_cast<size_t>(imageWidth) * imageHeight, 255);
  const unsigned bpl = in.header.cupsBytesPerLine;
  for (unsigned y = 0; y < in.header.cupsHeight && y < imageHeight; ++y) {
    const uint8_t* line = in.lines.data() + static_cast<size_t>(y) * bpl;
    uint8_t* row = img.data() + static_cast<size_t>(y) * imageWidth;
    if (bpl <= imageWidth)
      memcpy(row, line, bpl);
    else
      memcpy(row, line + (bpl - imageWidth) / 2, imageWidth);
  }
  return img;
}

std::vector<uint8_t> PackedBits(const inspect::Page& page) { return page.bits; }

std::string PageOrder(const inspect::JobStream& js) {
  std::string s;
  size_t md = 0;
  for (size_t i = 0; i < js.pages.size(); ++i) {
    while (md < js.manualDuplex.size() && js.manualDuplex[md].pagesBefore == i) {
      s += s.empty() ? "MD" : " MD";
      ++md;
    }
    s += (s.empty() ? "" : " ") + std::to_string(js.pages[i].number);
  }
  while (md < js.manualDuplex.size()) {
    s += " MD";
    ++md;
  }
  return s;
}

}  // namespace lumora::test
