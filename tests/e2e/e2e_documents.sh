#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A real document printed as a user prints it: the 38-page bzip2 manual (a
# PDF of the Debian package bzip2-doc) through the scheduler to one queue of
# each family. Every stream is read back whole (page count, job end); then
# one job of each family is cancelled mid-print, and what the printer got is
# still whole.
#
# A family is a row: its queue, PPD, lp options, the kind of stream it gets
# and the pages expected. Each kind has two checks, check_KIND_whole FILE
# PAGES and check_KIND_cut FILE ROW-NAME, so another kind of printer is one
# more row and two more functions.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start

MANUAL=/usr/share/doc/bzip2/manual.pdf.gz
if [ ! -f "$MANUAL" ]; then
  fail "bzip2-doc is not installed (scripts/install-deps.sh installs it)"
  exit 1
fi
DOC="$E2E_WORK/manual.pdf"
gzip -dc "$MANUAL" > "$DOC"
PAGES=$(pdfinfo "$DOC" | sed -n 's/^Pages: *//p')

# name | PPD | lp options | stream kind | pages the printer gets
rows=(
  "hazel|Lumora-Hazel-H1-Series||raster|$PAGES"
  "c300|Lumora-Cedar-C300-Series|-o Duplex=DuplexNoTumble|raster|$((PAGES + PAGES % 2))"
  "c200|Lumora-Cedar-C200-Series|-o Duplex=DuplexNoTumble|raster|$((PAGES + PAGES % 2))"
  "elm|Lumora-Elm-E300-Series|-o Duplex=DuplexTumble|raster|$((PAGES + PAGES % 2))"
)

field() { python3 "$E2E_SRC/stream_field.py" "$1" "$2"; }

# A whole raster stream: sound, its job end, every page.
check_raster_whole() {
  local file=$1 want=$2 json="$1.json"
  "$E2E_INSPECT" --json "$file" > "$json" || return 1
  [ "$(field "$json" end)" = yes ] && [ "$(field "$json" pages)" = "$want" ]
}

# A cancelled raster stream: fewer pages, and whole: the job end on
# PLATFORM_C and PLATFORM_Z; PLATFORM_M stops after the page it was on,
# so there only the end of the stream may be missing.
check_raster_cut() {
  local file=$1 json="$1.json"
  "$E2E_INSPECT" --json "$file" > "$json"
  [ "$(field "$json" pages)" -lt "$PAGES" ] || return 1
  python3 - "$json" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))
if r["dialect"] != "PLATFORM_M":
    sys.exit(0 if r["ok"] and r["job_end"] else 1)
sys.exit(0 if all(e["offset"] == r["size"] and e["message"].startswith("stream ends")
                  for e in r["errors"]) else 1)
EOF
}

declare -A whole cut
for row in "${rows[@]}"; do
  IFS='|' read -r name ppd opts kind want <<< "$row"
  rig_add_queue "$name" "lumora/$ppd.ppd" "usb://Lumora/$name?serial=doc" 2> /dev/null
  # shellcheck disable=SC2086
  whole[$name]=$(lp -d "$name" $opts -t manual "$DOC" | job_id)
done
for row in "${rows[@]}"; do
  IFS='|' read -r name ppd opts kind want <<< "$row"
  id=${whole[$name]}
  state=$(wait_job "$id" 300)
  check "$name: the manual printed ($state)" [ "$state" = completed ]
  check "$name: $want pages, whole, with its job end" \
    "check_${kind}_whole" "$(wait_stream "$name" "$id")" "$want"
  check "$name: no error lines" no_stray_errors "$id"
done

# The same document again, cancelled once the fourth page is on its way
# (on the manual-duplex queue a back side, which goes to the spool file).
for row in "${rows[@]}"; do
  IFS='|' read -r name ppd opts kind want <<< "$row"
  # shellcheck disable=SC2086
  cut[$name]=$(lp -d "$name" $opts -t cancelled "$DOC" | job_id)
done
for row in "${rows[@]}"; do
  IFS='|' read -r name ppd opts kind want <<< "$row"
  id=${cut[$name]}
  check "$name: cancelled mid-print" wait_log "$id" 'PAGE: 4 '
  cancel "$id"
done
for row in "${rows[@]}"; do
  IFS='|' read -r name ppd opts kind want <<< "$row"
  id=${cut[$name]}
  state=$(wait_job "$id" 60)
  check "$name: the job ended as canceled ($state)" [ "$state" = canceled ]
  check "$name: what the printer got is whole" "check_${kind}_cut" "$(wait_stream "$name" "$id")"
  check "$name: the filter saw the cancel and exited normally" \
    bash -c "! grep -a '\[Job $id\] PID .*Lumora) \(stopped\|crashed\)' '$LOG'"
done
check_temp_files_gone
echo "$CHECKS checks, $FAILURES failed"
