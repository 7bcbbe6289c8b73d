#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is missing, builds the driver and runs every test twice: in
# the normal build (build/) and in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-sanitize/), where the filters the tests
# start, the fuzz corpus replay and the end-to-end jobs all run
# instrumented; the concurrent-jobs test again under ThreadSanitizer
# (build-tsan/). Then one job of each road runs under valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS"

# Sanitizers: any report ends the process with an error. The benchmarks are
# not built (they measure speed, which the sanitizers change).
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON \
  -DLUMORA_BUILD_BENCH=OFF
cmake --build build-sanitize -j"$JOBS"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:exitcode=23}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-sanitize --output-on-failure -j"$JOBS"
unset ASAN_OPTIONS UBSAN_OPTIONS

# ThreadSanitizer: eight raster jobs, then eight PostScript jobs, at once in
# one process, with no data race between them (only the libraries and those
# tests are built).
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_TSAN=ON -DLUMORA_BUILD_BENCH=OFF
cmake --build build-tsan -j"$JOBS" --target concurrent_jobs_test concurrent_ps_jobs_test
TSAN_OPTIONS=halt_on_error=1:exitcode=66 build-tsan/bin/concurrent_jobs_test
TSAN_OPTIONS=halt_on_error=1:exitcode=66 build-tsan/bin/concurrent_ps_jobs_test

bash scripts/valgrind.sh build

# The Debian packages: build, lintian, install, print, remove and purge.
bash tests/package/package_test.sh build/bin/lumora-test-backend
