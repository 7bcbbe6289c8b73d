// SPDX-License-Identifier: GPL-2.0-or-later
// Screening speed on an A4 page at 600 dpi (4736 x 6784 pixels) for every
// platform and matrix, on a text-like page (white with black text blocks)
// and a photo-like page (continuous gray). Reports pixels per second.
//
//   build-*/bench/halftone_bench [--benchmark_filter=Photo]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "halftone.h"
#include "records.h"

namespace lumora {

namespace {

constexpr int kWidth = 4736;
constexpr int kLines = 6784;

// Text: white page, lines of glyph-sized black blocks in the text area.
const std::vector<uint8_t>& TextPage() {
  static const std::vector<uint8_t> kPage = [] {
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kLines, 255);
    uint32_t seed = 12345;
    for (int line = 400; line + 50 < kLines - 400; line += 100) {
      for (int x = 300; x + 30 < kWidth - 300; x += 36) {
        seed = seed * 1103515245 + 12345;
        if ((seed >> 16) % 7 == 0) continue;  // word gap
        const int h = 30 + (seed >> 8) % 20;
        for (int y = line; y < line + h; ++y)
          for (int i = 0; i < 24; ++i) p[static_cast<size_t>(y) * kWidth + x + i] = 0;
      }
    }
    return p;
  }();
  return kPage;
}

// Photo: smooth gray gradients with mild noise.
const std::vector<uint8_t>& PhotoPage() {
  static const std::vector<uint8_t> kPage = [] {
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kLines);
    uint32_t seed = 777;
    for (int y = 0; y < kLines; ++y)
      for (int x = 0; x < kWidth; ++x) {
        seed = seed * 1664525 + 1013904223;
        int v = (x * 255 / kWidth + y * 255 / kLines) / 2 + static_cast<int>(seed >> 29) - 4;
        p[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    return p;
  }();
  return kPage;
}

void Screen(benchmark::State& state, const std::vector<uint8_t>& page, int platform, int dpi1200,
            bool willow) {
  uint32_t coverage = 0;
  ScreenJob job{willow ? "Lumora Willow Plus Series" : "Lumora Birch", &coverage, nullptr};
  const bool twoBit = platform == PLATFORM_M && dpi1200;
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kLines / (twoBit ? 4 : 8));
  HalftoneRequest request;
  request.src = page.data();
  request.width = kWidth;
  request.lines = kLines;
  request.dst = out.data();
  request.limit = kWidth;
  request.dpi1200 = dpi1200 != 0;
  request.platform = platform;
  for (auto _ : state) {
    coverage = 0;
    HalftoneDither(job, request);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kWidth) * kLines);
  state.counters["Gpixel/s"] = benchmark::Counter(static_cast<double>(kWidth) * kLines / 1e9,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

#define LUMORA_SCREEN_BENCH(name, platform, dpi1200, willow)                                  \
  void Text_##name(benchmark::State& s) { Screen(s, TextPage(), platform, dpi1200, willow); }   \
  void Photo_##name(benchmark::State& s) { Screen(s, PhotoPage(), platform, dpi1200, willow); } \
  BENCHMARK(Text_##name)->Unit(benchmark::kMillisecond);                                      \
  BENCHMARK(Photo_##name)->Unit(benchmark::kMillisecond);

LUMORA_SCREEN_BENCH(C_600, 1, 0, false)
LUMORA_SCREEN_BENCH(C_1200, 1, 1, false)
LUMORA_SCREEN_BENCH(Z_600, 2, 0, false)
LUMORA_SCREEN_BENCH(Z_1200, 2, 1, false)
LUMORA_SCREEN_BENCH(Z_Willow_600, 2, 0, true)
LUMORA_SCREEN_BENCH(Z_Willow_1200, 2, 1, true)
LUMORA_SCREEN_BENCH(M_600, 3, 0, false)
LUMORA_SCREEN_BENCH(M_1200_2bit, 3, 1, false)

}  // namespace

}  // namespace lumora

BENCHMARK_MAIN();
