#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Two-sided printing on a manual-duplex model: the PPD says the printer
# supports manual duplex, so rastertoLumora prints the job in two passes and
# shows the PPD's prompt to turn the stack over between them; an odd job
# gets a blank back side.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
rig_add_queue alder lumora/Lumora-Alder-Series.ppd "usb://Lumora/Alder?serial=2"
make_box_pdf "$E2E_WORK/boxes.pdf" 72,650,72,72 200,500,100,50 300,100,150,150
id=$(lp -d alder -o Duplex=DuplexNoTumble "$E2E_WORK/boxes.pdf" | job_id)
# The filter pauses 10 seconds after a manual-duplex job.
state=$(wait_job "$id" 120)
check "job completed ($state)" [ "$state" = completed ]
check "manual duplex chosen from the PPD" log_has "$id" 'SupportManualDuplex is 1'
check "the turn-over prompt reached the scheduler" \
  log_has "$id" 'Turn the printed stack over and put it back in the tray'
stream="$OUT/alder-$id.prn"
check "the stream is sound" inspect_stream "$stream" "$E2E_WORK/pages"
pages=$(find "$E2E_WORK/pages" -name 'page-*.pbm' | wc -l)
check "3 pages and a blank back side ($pages)" [ "$pages" -eq 4 ]
check "no stray error lines" no_stray_errors "$id"
