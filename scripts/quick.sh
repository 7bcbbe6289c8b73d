#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The quick loop while changing the driver: configures build/ once (when it
# has no CMakeCache.txt yet), rebuilds what changed and runs the fast tests:
# every test but those labelled "e2e" (a private cupsd or printer
# application server per test) and "identity" (the recorded output digests
# over every thread count). Installs nothing and builds no sanitizer tree;
# the whole run is scripts/test.sh.
#   scripts/quick.sh [CTEST-ARGS...]   e.g. -R raster, or -L identity to run
#                                      only the identity tests
# Environment: LUMORA_BUILD_DIR (default build), LUMORA_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LUMORA_BUILD_DIR:-build}
jobs=${LUMORA_JOBS:-2}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"$jobs"
# A label named on the command line replaces the exclusion.
exclude=(-LE '^(e2e|identity)$')
for arg; do
  case $arg in -L | -L* | --label-regex*) exclude=() ;; esac
done
ctest --test-dir "$build" -j"$jobs" --output-on-failure "${exclude[@]}" "$@"
