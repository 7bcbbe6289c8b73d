// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real rastertoLumora on a raster and a PPD, as the scheduler
// does, and reads the job stream back with the stream reader.
#pragma once

#include <cups/raster.h>

#include <map>
#include <string>
#include <vector>

#include "job_stream_reader.h"
#include "test_support.h"

namespace lumora::test {

struct FilterRun {
  RunResult result;
  inspect::JobStream stream;
};

struct FilterJob {
  std::string model = "Lumora Cedar C300 Series";
  std::string ppdExtra;            // more PPD lines
  std::string options;             // argv[5]
  std::string title = "Test job";
  std::map<std::string, std::string> env;
  std::function<void(pid_t, const std::string&)> onOutput;
};

// Writes the PPD (and the raster, when pages are given) into dir and runs
// the filter on it with TMPDIR = dir/tmp.
FilterRun RunRasterFilter(const TempDir& dir, const FilterJob& job,
                          const std::vector<RasterPage>& pages);
FilterRun RunRasterFilterOnFile(const TempDir& dir, const FilterJob& job,
                                const std::string& rasterPath);

// One page of a raster stream as the filter reads it.
struct RasterInput {
  cups_page_header2_t header;
  std::vector<uint8_t> lines;  // cupsHeight x cupsBytesPerLine
};
std::vector<RasterInput> ReadRasterFile(const std::string& path);

// The 8-bit page image the filter builds from the raster lines: wider lines
// centre-cropped, narrower ones left-aligned on white, extra lines dropped.
std::vector<uint8_t> PageImage(const RasterInput& in, unsigned imageWidth, unsigned imageHeight);

// Packed rows of the decoded page as the screen writes them (no row padding
// needed: widths are whole bytes).
std::vector<uint8_t> PackedBits(const inspect::Page& page);

// The page numbers of the stream in order, as "1 3 5 6 4 2".
std::string PageOrder(const inspect::JobStream& js);

}  // namespace lumora::test
