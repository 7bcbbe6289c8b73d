// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz entry of the raster reader: any stream, read in lock step by the
// CUPS library's reader and by lumora::RasterReader; every result and byte
// must agree.
#include <string>

#include "fuzz_entries.h"
#include "fuzz_support.h"
#include "raster_reader_diff.h"

namespace lumora::test::fuzz {

int FuzzRasterReader(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static constexpr size_t kBuffers[] = {1, 2, 3, 16, 100, 4096, 65536,
                                        lumora::RasterReader::kDefaultBufferSize};
  lumora::test::ReadPlan plan;
  plan.calls = (data[0] & 1) != 0 ? lumora::test::ReadCalls::kOdd : lumora::test::ReadCalls::kFilter;
  plan.bufferSize = kBuffers[(data[0] >> 1) & 7];
  plan.seed = data[1];
  const std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string difference = lumora::test::RasterReadDifference(stream, plan);
  if (!difference.empty()) Fail("raster_reader", difference);
  return 0;
}

}  // namespace lumora::test::fuzz
