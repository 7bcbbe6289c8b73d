#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The PPD options reach rastertoLumora through the scheduler and change what
# the printer gets: one job per option, each checked in lumora-inspect's
# account of the captured stream or in the filter's log lines.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
rig_add_queue cedar lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/C300?serial=3"
rig_add_queue elm lumora/Lumora-Elm-E300-Series.ppd "usb://Lumora/E300?serial=3"
make_box_pdf "$E2E_WORK/box.pdf" 72,650,72,72

# queue | lp options | extended regex expected in the summary, or log:REGEX
# expected in the job's log lines
cases=(
  "cedar||density: 2"
  "cedar|-o Density=4|density: 4"
  "cedar|-o TonerMode=True|density: 0"
  "cedar|-o FineMode=True|fine mode: 1"
  "cedar|-o InputSlot=ManualFeed|input slot 1"
  "cedar|-o PageSize=A5 -o FeedLongEdge=True|paper code 18"
  "cedar|-o NegativePrint=True|[0-9]{8} dots"
  "cedar|-o ImageRotation=True|log:rotate180 is 1"
  "cedar|-o Duplex=DuplexNoTumble|2 pages"
  "elm|-o DPI1200=True|2 bits per pixel"
  "elm||1 bit per pixel"
)
n=0
for c in "${cases[@]}"; do
  IFS='|' read -r queue opts want <<< "$c"
  n=$((n + 1))
  # shellcheck disable=SC2086
  id=$(lp -d "$queue" $opts "$E2E_WORK/box.pdf" | job_id)
  state=$(wait_job "$id" 60)
  if [ "$state" != completed ]; then
    fail "$queue $opts: job $state"
    continue
  fi
  if ! inspect_stream "$OUT/$queue-$id.prn" "$E2E_WORK/case$n"; then
    fail "$queue $opts: stream has faults"
    continue
  fi
  if [ "${want#log:}" != "$want" ]; then
    check "$queue ${opts:-(defaults)}: ${want#log:}" log_has "$id" "${want#log:}"
  else
    check "$queue ${opts:-(defaults)}: $want" grep -q -E -- "$want" "$E2E_WORK/case$n.summary.txt"
  fi
done
