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

# The same job from a user who reads Simplified Chinese: the scheduler runs
# the filter with the job's language, the PPD's translation of the prompt
# becomes the job's state message, and the printer gets the same pages (the
# filter's own PPD texts are never translated).
zh_prompt='请将已打印的纸叠翻面后放回纸盒，以打印背面'
out=$(LANG=zh_CN.UTF-8 lp -d alder -o Duplex=DuplexNoTumble "$E2E_WORK/boxes.pdf")
zid=$(sed -n 's/.*alder-\([0-9]*\).*/\1/p' <<< "$out")
seen=no
for _ in $(seq 1 600); do
  if LANG=C lpstat -l -o alder 2>/dev/null | grep -a -q -F "Status: $zh_prompt"; then
    seen=yes
    break
  fi
  lpstat -W not-completed -o 2>/dev/null | grep -q -- "-$zid " || break
  sleep 0.1
done
check "the Chinese prompt was the job's state message" [ "$seen" = yes ]
state=$(wait_job "$zid" 120)
check "Chinese job completed ($state)" [ "$state" = completed ]
check "the filter ran in the job's language" log_has "$zid" 'LANG=zh_CN\.UTF-8'
check "the Chinese job's stream is sound" inspect_stream "$OUT/alder-$zid.prn" "$E2E_WORK/pages-zh"
check "the Chinese job printed the same pages" diff -r "$E2E_WORK/pages" "$E2E_WORK/pages-zh"
check "no stray error lines in the Chinese job" no_stray_errors "$zid"
