#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# One command for the performance table: builds the filters, the job-stream
# reader and the PPDs (release build with debug info, in build-bench unless
# LUMORA_BENCH_BUILD names another folder), renders the benchmark pages with
# ghostscript and a 200 MB PostScript job once (kept in BUILD/bench-work),
# and prints the table. Options are passed to bench_filters.py, e.g.
#   bench/run_bench.sh --runs 9
#   bench/run_bench.sh --only raster|pages|memory|prefilter|screen|read
set -e
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${LUMORA_BENCH_BUILD:-$SRC/build-bench}
for tool in gs pbmtojbg python3 /usr/bin/time; do
  command -v "$tool" >/dev/null 2>&1 || { echo "run_bench.sh: $tool is missing" >&2; exit 2; }
done
cmake -S "$SRC" -B "$BUILD" -DLUMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target rastertoLumora pstoLumora lumora-inspect lumora_ppds >/dev/null
# The screening and raster-reading micro-benchmarks need Google Benchmark;
# they are optional.
cmake --build "$BUILD" -j"$(nproc)" --target halftone_bench raster_read_bench >/dev/null 2>&1 || true
exec python3 "$SRC/bench/bench_filters.py" --bin "$BUILD/bin" --ppd-dir "$BUILD/ppd-files" \
  --src "$SRC/bench" --work "$BUILD/bench-work" "$@"
