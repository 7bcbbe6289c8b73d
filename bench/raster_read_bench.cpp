// SPDX-License-Identifier: GPL-2.0-or-later
// Reading CUPS raster files: the CUPS library's reader against
// lumora::RasterReader, with the calls the raster filter makes (each page
// header, then every row into a buffer of cupsBytesPerLine bytes). The
// files are read from the page cache; one iteration reads a whole file.
//
//   build-*/bench/raster_read_bench [--benchmark_...] FILE.ras...
//
// bench/bench_filters.py --only read renders the benchmark pages and runs it.
#include <benchmark/benchmark.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "raster_reader.h"

namespace lumora {

namespace {

// Reads every page of the file with either reader; the bytes of all rows read.
template <typename Reader>
size_t ReadFile(const std::string& path, std::vector<unsigned char>& row) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  size_t bytes = 0;
  {
    Reader reader(fd);
    cups_page_header2_t header;
    while (reader.Header(&header)) {
      if (row.size() < header.cupsBytesPerLine) row.resize(header.cupsBytesPerLine);
      for (unsigned y = 0; y < header.cupsHeight; ++y) {
        if (reader.Pixels(row.data(), header.cupsBytesPerLine) == 0) break;
        bytes += header.cupsBytesPerLine;
      }
      benchmark::DoNotOptimize(row.data());
    }
  }
  close(fd);
  return bytes;
}

struct CupsReader {
  cups_raster_t* ras;
  explicit CupsReader(int fd) : ras(cupsRasterOpen(fd, CUPS_RASTER_READ)) {}
  ~CupsReader() { if (ras != nullptr) cupsRasterClose(ras); }
  unsigned Header(cups_page_header2_t* h) { return ras != nullptr ? cupsRasterReadHeader2(ras, h) : 0; }
  unsigned Pixels(unsigned char* p, unsigned len) { return cupsRasterReadPixels(ras, p, len); }
};

struct LumoraReader {
  lumora::RasterReader reader;
  explicit LumoraReader(int fd) : reader(fd) {}
  unsigned Header(cups_page_header2_t* h) { return reader.ReadHeader2(h); }
  unsigned Pixels(unsigned char* p, unsigned len) { return reader.ReadPixels(p, len); }
};

template <typename Reader>
void ReadBench(benchmark::State& state, const std::string& path) {
  std::vector<unsigned char> row;
  size_t bytes = 0;
  for (auto _ : state) bytes = ReadFile<Reader>(path, row);
  if (bytes == 0) state.SkipWithError("no rows read");
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

}  // namespace lumora

int main(int argc, char** argv) {
  using namespace lumora;
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--benchmark_...] FILE.ras...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    benchmark::RegisterBenchmark(("cups/" + BaseName(path)).c_str(), ReadBench<CupsReader>, path)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("lumora/" + BaseName(path)).c_str(), ReadBench<LumoraReader>, path)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
