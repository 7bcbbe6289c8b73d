#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets with clang and runs each for a given time.
#   tests/fuzz/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
# New inputs go to a work corpus under the build directory (the committed
# seeds in tests/fuzz/corpus/ are only read); crashes land in
# build-fuzz/fuzz-artifacts/<target>/. Each target's executions and the
# crashes found are printed at the end (and kept in build-fuzz/fuzz-summary.txt).
set -euo pipefail
cd "$(dirname "$0")/../.."
SECONDS_PER_TARGET=${1:-60}
shift || true
ALL=(raster_page_loop job_settings ps_rewrite urldecode size_checks snmp_reply job_stream_reader
     raster_reader jbig_encoder)
TARGETS=("${@:-${ALL[@]}}")
BUILD=${LUMORA_FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DLUMORA_FUZZ=ON -DLUMORA_SANITIZE=ON \
  -DLUMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target "${TARGETS[@]/#/fuzz_}" >/dev/null

summary="$BUILD/fuzz-summary.txt"
: >"$summary"
status=0
for t in "${TARGETS[@]}"; do
  work="$BUILD/fuzz-corpus/$t"
  artifacts="$BUILD/fuzz-artifacts/$t"
  mkdir -p "$work" "$artifacts"
  log="$BUILD/fuzz-$t.log"
  # Fuzzing only ever adds to the work corpus; the seeds stay as committed.
  # -close_fd_mask=2 hides the filters' own chatter (not the sanitizer reports:
  # those go to the saved standard error).
  # Both raster readers allocate the row a page header announces; gigabyte
  # rows make AddressSanitizer crawl, so there such allocations fail (alike
  # in both readers, which then refuse the page).
  run_env=()
  if [ "$t" = raster_reader ]; then
    run_env=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1:max_allocation_size_mb=32")
  fi
  set +e
  env "${run_env[@]}" "$BUILD/bin/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=8192 \
    -max_len=65536 -close_fd_mask=2 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "tests/fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(find "$artifacts" -type f | wc -l)
  printf '%-20s %10s executions  %d crash(es)  rc=%d\n' "$t" "${execs:-?}" "$crashes" "$rc" | tee -a "$summary"
  if [ "$rc" -ne 0 ]; then status=1; fi
done
exit $status
