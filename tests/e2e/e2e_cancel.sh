#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# cancel during a long raster job: the filter finishes the page it is on and
# closes the job, so the printer gets a sound stream up to the cut; the job
# ends as canceled and no spool file of the filter is left behind.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
rig_add_queue long lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/C300?serial=5"
# A long job: 12 copies of the three-page sample (pictures that compress
# poorly), and a printer that takes 4 KiB every 2 ms, so the job is still
# printing when the cancel comes, whatever the speed of the filters.
printf '2' > "$OUT/long.throttle"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$E2E_WORK/sample.pdf" "$E2E_SRC/sample_document.ps"
total=36

# Collate makes the filter hold pages in a spool file too (which it unlinks
# at once, so nothing can be left behind even by a crash).
id=$(lp -d long -n 12 -o Collate=True "$E2E_WORK/sample.pdf" | job_id)
check "job is printing page 2" wait_log "$id" 'PAGE: 2 '
cancel "$id"
state=$(wait_job "$id" 60)
check "job ended as canceled ($state)" [ "$state" = canceled ]

# The backend renames its capture once the filters closed the pipe.
stream=$(wait_stream long "$id")
check "the backend got the data up to the cut" [ -s "$stream" ]
check "the stream is sound up to the cut" inspect_stream "$stream" "$E2E_WORK/cut"
pages=$(find "$E2E_WORK/cut" -name 'page-*.pbm' | wc -l)
check "some pages printed, not all ($pages of $total)" [ "$pages" -ge 1 -a "$pages" -lt "$total" ]
check "rastertoLumora saw the cancel and exited normally" \
  bash -c "! grep -a '\[Job $id\] PID .*rastertoLumora) \(stopped\|crashed\)' '$LOG'"
check_temp_files_gone
