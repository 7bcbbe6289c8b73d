// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a CUPS raster stream with the CUPS library's reader and with
// lumora::RasterReader in lock step, call by call, and reports the first
// result or byte where they part. Shared by the differential test and the
// raster_reader fuzz target; also writes the test streams with the CUPS
// library's own writer.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "raster_reader.h"

namespace lumora::test {

enum class ReadCalls {
  kFilter,  // each header, then cupsHeight reads of cupsBytesPerLine until one fails
  kOdd,     // also partial rows, rows spanning lines, reads past the page, reads after failures
};

struct ReadPlan {
  ReadCalls calls = ReadCalls::kFilter;
  uint32_t seed = 1;  // picks the odd lengths
  size_t bufferSize = lumora::RasterReader::kDefaultBufferSize;
};

// "" when both readers gave the same results and bytes for every call;
// otherwise the first difference. Rows wider than 1 MB are not read, and
// a stream is read for at most 64 MB of rows and 16 pages.
std::string RasterReadDifference(const std::string& stream, const ReadPlan& plan);
// The same with lumora::RasterReader reading from mineFd (for example the
// reading end of a pipe that carries the same stream as cupsFd).
std::string RasterReadDifference(int cupsFd, int mineFd, const ReadPlan& plan);

// A page for the CUPS writer: its header and rows of runs, noise and
// repeated rows (seeded).
struct TestPage {
  unsigned width = 37;
  unsigned height = 9;
  unsigned bitsPerColor = 8;
  unsigned bitsPerPixel = 8;
  cups_cspace_t colorSpace = CUPS_CSPACE_K;
  cups_order_t colorOrder = CUPS_ORDER_CHUNKED;
  unsigned numColors = 1;
  uint32_t seed = 1;
};

// A stream of these pages as the CUPS writer writes it in the given mode.
std::string WriteTestStream(cups_mode_t mode, const std::vector<TestPage>& pages);

}  // namespace lumora::test
