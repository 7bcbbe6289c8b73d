#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The two roads of pstoLumora through the scheduler: a PostScript job to a
# maple queue is rewritten (job owner and id in its PJL header, page size),
# a PDF job to a larch queue is converted to PostScript by the filter itself
# (no pdftops in the scheduler's chain) with the even pages turned for
# long-edge duplex, PostScript jobs too (through the scheduler's PDF filter).
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
add_ps_queue maple MP2100 "usb://Lumora/MP2100?serial=7"
add_ps_queue larch LP5100 "socket://127.0.0.1:9100"

make_box_pdf "$E2E_WORK/boxes.pdf" 72,650,72,72 200,500,100,50 300,100,150,150
ps="$E2E_WORK/boxes.pdf.ps"

id=$(lp -d maple -o PageSize=Letter "$ps" | job_id)
state=$(wait_job "$id" 60)
check "maple: PostScript job completed ($state)" [ "$state" = completed ]
out="$OUT/maple-$id.prn"
check "maple: PJL job name kept" grep -a -q '@PJL JOB NAME' "$out"
check "maple: job owner inserted" grep -a -q "@PJL SET JOBOWNER=\"$(hostname)\"" "$out"
check "maple: job id inserted" grep -a -q "@PJL SET JOBID=$id" "$out"
check "maple: PostScript follows ENTER LANGUAGE" bash -c "grep -a -A1 '@PJL ENTER LANGUAGE' '$out' | grep -a -q '^%!PS'"
check "maple: three pages" [ "$(grep -a -c '^%%Page:' "$out")" -eq 3 ]
check "maple: pstoLumora ran" log_has "$id" 'Started filter .*/pstoLumora'
check "maple: no stray error lines" no_stray_errors "$id"

# Copies: a maple printer makes plain copies itself from the count in the
# job; collated copies are made by pstoLumora, which takes that count out.
id=$(lp -d maple -n 2 "$ps" | job_id)
wait_job "$id" 60 > /dev/null
out="$OUT/maple-$id.prn"
check "maple, 2 copies: the job once, with the printer's copy count" \
  [ "$(grep -a -c '^%%Page:' "$out")" -eq 3 -a "$(grep -a -c 'BeginNonPPDFeature: \*NumCopies 2' "$out")" -eq 1 ]
id=$(lp -d maple -n 2 -o Collate=True "$ps" | job_id)
wait_job "$id" 60 > /dev/null
out="$OUT/maple-$id.prn"
check "maple, 2 collated copies: the body twice, no copy count" \
  [ "$(grep -a -c '^%%Page:' "$out")" -eq 6 -a "$(grep -a -c 'NonPPDFeature: \*NumCopies' "$out")" -eq 0 ]
id=$(lp -d larch -n 2 "$E2E_WORK/boxes.pdf" | job_id)
wait_job "$id" 60 > /dev/null
check "larch, 2 copies: six pages" [ "$(grep -a -c '^%%Page:' "$OUT/larch-$id.prn")" -eq 6 ]

id=$(lp -d larch -o Duplex=DuplexNoTumble "$E2E_WORK/boxes.pdf" | job_id)
state=$(wait_job "$id" 60)
check "larch: PDF job completed ($state)" [ "$state" = completed ]
out="$OUT/larch-$id.prn"
check "larch: PJL header" grep -a -q '@PJL ENTER LANGUAGE' "$out"
check "larch: PostScript body" grep -a -q '^%!PS-Adobe' "$out"
check "larch: the scheduler ran no pdftops (the PDF road)" \
  bash -c "! grep -a '\[Job $id\] Started filter .*/pdftops' '$LOG'"
check "larch: pstoLumora got the PDF" log_has "$id" 'Started filter .*/pstoLumora'
# What the printer prints: the PostScript rendered by ghostscript; page 2
# is turned by half a turn, so its box sits at the opposite place.
mkdir -p "$E2E_WORK/larch"
sed -n '/^%!PS-Adobe/,/^%%EOF/p' "$out" > "$E2E_WORK/larch.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r600 -o "$E2E_WORK/larch/page-%03d.pbm" "$E2E_WORK/larch.ps"
check "larch: even pages turned for long-edge duplex" \
  python3 "$E2E_SRC/check_pages.py" "$E2E_WORK/larch" --sheet=595,842 \
  72,650,72,72 295,292,100,50 300,100,150,150
check "larch: no stray error lines" no_stray_errors "$id"

# A PostScript job to a Larch queue also reaches pstoLumora as PDF.
id=$(lp -d larch "$ps" | job_id)
state=$(wait_job "$id" 60)
check "larch: PostScript job completed ($state)" [ "$state" = completed ]
check "larch: PostScript job went to pstoLumora as PDF" \
  log_has "$id" 'pstoLumora \(application/vnd.cups-pdf to printer/larch'
check "larch: PostScript job printed its three pages" [ "$(grep -a -c '^%%Page:' "$OUT/larch-$id.prn")" -eq 3 ]

# Long-edge duplex of a PostScript job to a Larch queue: the scheduler makes
# a PDF of it (the PPD's PostScript entry costs more than that chain), and
# pstoLumora turns pages 2 and 4.
make_box_pdf "$E2E_WORK/five.pdf" 72,650,72,72 200,500,100,50 300,100,150,150 100,200,60,40 400,700,50,50
id=$(lp -d larch -o Duplex=DuplexNoTumble "$E2E_WORK/five.pdf.ps" | job_id)
state=$(wait_job "$id" 60)
check "larch, duplex PostScript job completed ($state)" [ "$state" = completed ]
check "larch, duplex PostScript job went to pstoLumora as PDF" \
  log_has "$id" 'pstoLumora \(application/vnd.cups-pdf to printer/larch'
mkdir -p "$E2E_WORK/larch-ps"
sed -n '/^%!PS-Adobe/,/^%%EOF/p' "$OUT/larch-$id.prn" > "$E2E_WORK/larch-ps.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r600 -o "$E2E_WORK/larch-ps/page-%03d.pbm" "$E2E_WORK/larch-ps.ps"
check "larch, duplex PostScript job: pages 2 and 4 turned" \
  python3 "$E2E_SRC/check_pages.py" "$E2E_WORK/larch-ps" --sheet=595,842 \
  72,650,72,72 295,292,100,50 300,100,150,150 435,602,60,40 400,700,50,50
check "larch, duplex PostScript job: no stray error lines" no_stray_errors "$id"
check "no temporary file left behind" [ -z "$(temp_files_left)" ]
