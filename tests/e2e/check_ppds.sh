#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# cupstestppd on every generated PPD, with the driver's filters in a private
# ServerBin so that cupstestppd also checks the programs *cupsFilter2 names.
#   check_ppds.sh PPD_DIR EXPECTED_COUNT [FILTER_PROGRAM...]
set -euo pipefail
ppd_dir=$1 expected=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/filter"
ignore=(-I filters)
if [ $# -ge 2 ]; then
  for f in "$@"; do ln -s "$f" "$work/filter/$(basename "$f")"; done
  ignore=()
fi
count=0 failed=0
for ppd in "$ppd_dir"/Lumora-*.ppd; do
  count=$((count + 1))
  if ! CUPS_SERVERBIN="$work" cupstestppd "${ignore[@]}" -q "$ppd"; then
    CUPS_SERVERBIN="$work" cupstestppd "${ignore[@]}" -v "$ppd" | grep -E 'FAIL|REF' >&2 || true
    failed=$((failed + 1))
  fi
done
echo "checked $count PPD files, $failed failed"
[ "$count" -eq "$expected" ] || { echo "expected $expected PPD files" >&2; exit 1; }
[ "$failed" -eq 0 ]
