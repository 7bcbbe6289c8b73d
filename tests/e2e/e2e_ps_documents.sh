#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A real multi-page document (groff's PostScript of CUPS's own manual pages,
# and the PDF made of it) printed to a queue of each PostScript family, and
# one job of each family cancelled while it prints. Every stream the
# printer gets is whole: its PJL job opened and closed, PostScript that
# ghostscript renders without an error, every page of the document (or,
# when cancelled, the pages up to a page boundary, the cancel trailer and
# the PJL job's close); the cancelled filter ends with status 0 and says so
# in an INFO line, and no error line is logged.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
add_ps_queue maple MP2100 "usb://Lumora/MP2100?serial=21"
add_ps_queue larch LP5100 "socket://127.0.0.1:9100"
add_ps_queue plain OP3100 "usb://Lumora/OP3100?serial=23"

# The document: manual pages of the CUPS client and server, set by groff.
pages_in=()
for page in man5/cupsd.conf.5 man8/lpadmin.8 man1/lp.1 man1/lpstat.1 man1/lpoptions.1 man8/cupsd.8; do
  f=/usr/share/man/$page.gz
  [ -f "$f" ] && pages_in+=("$f")
done
doc="$E2E_WORK/manual"
if [ "${#pages_in[@]}" -ge 3 ]; then
  for f in "${pages_in[@]}"; do zcat "$f"; echo ".bp"; done | groff -man -Tps > "$doc.ps"
else
  # A system installed without manual pages: the driver's own documents.
  sed -e 's/^[.'"'"']/\\\&&/' "$E2E_SRC"/../../README.md "$E2E_SRC"/../../docs/*.md |
    groff -Tps > "$doc.ps"
fi
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$doc.pdf" "$doc.ps"
total=$(grep -a -c '^%%Page:' "$doc.ps")
check "the document has many pages ($total)" [ "$total" -ge 10 ]

# rendered STREAM DIR: the stream's PostScript rendered by ghostscript,
# one file per page; prints the page count (fails on a PostScript error).
rendered() {
  local out=$1 dir=$2
  mkdir -p "$dir"
  sed -n '/^%!PS-Adobe/,/^%%EOF/p' "$out" > "$dir.ps"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r30 -o "$dir/page-%03d.pbm" "$dir.ps" \
    > "$dir.gs.log" 2>&1 || { cat "$dir.gs.log" >&2; return 1; }
  if grep -a -q -E 'Error|error:' "$dir.gs.log"; then cat "$dir.gs.log" >&2; return 1; fi
  find "$dir" -name 'page-*.pbm' | wc -l
}

# pjl_whole STREAM: the stream opens a PJL job and closes it as a completed
# job does (its EOJ after the PostScript, then the universal exit).
pjl_whole() {
  local out=$1
  head -c 20 "$out" | grep -a -q -F "$(printf '\033%%-12345X@PJL')" || return 1
  tail -c 300 "$out" | grep -a -q '@PJL EOJ' || return 1
  [ "$(tail -c 8 "$out")" = "%-12345X" ]
}

# some_pages N: more than none and fewer than all pages.
some_pages() { [ "$1" != error ] && [ "$1" -ge 1 ] && [ "$1" -lt "$total" ]; }

declare -A SIZE
for q in maple larch plain; do
  # The PDF to every family, the PostScript to the two PostScript roads.
  for kind in pdf ps; do
    [ "$q" = larch ] && [ "$kind" = ps ] && continue
    id=$(lp -d "$q" "$doc.$kind" | job_id)
    state=$(wait_job "$id" 120)
    check "$q, $kind: job completed ($state)" [ "$state" = completed ]
    out="$OUT/$q-$id.prn"
    check "$q, $kind: PJL job opened and closed" pjl_whole "$out"
    n=$(rendered "$out" "$E2E_WORK/$q-$kind") || n=error
    check "$q, $kind: ghostscript renders all $total pages ($n)" [ "$n" = "$total" ]
    check "$q, $kind: no stray error lines" no_stray_errors "$id"
    [ "$kind" = pdf ] && SIZE[$q]=$(stat -c %s "$out")
  done
done

# A cancel while the printer takes the job slowly (4 KiB every 10 ms).
trailer_then_close() {
  local out=$1
  grep -a -q -F '%%Pages: 4' "$out" && tail -c 400 "$out" | grep -a -q -F '%%Trailer'
}
for q in maple larch plain; do
  printf '10' > "$OUT/$q.throttle"
  id=$(lp -d "$q" "$doc.pdf" | job_id)
  # Cancel once the printer has a third of the job.
  for _ in $(seq 1 1500); do
    part="$OUT/$q-$id.prn.part"
    [ -f "$part" ] && [ "$(stat -c %s "$part")" -gt $((SIZE[$q] / 3)) ] && break
    sleep 0.02
  done
  cancel "$id"
  state=$(wait_job "$id" 60)
  check "$q, cancelled: job ended as canceled ($state)" [ "$state" = canceled ]
  out=$(wait_stream "$q" "$id")
  check "$q, cancelled: the printer got a stream" [ -s "$out" ]
  check "$q, cancelled: PJL job opened and closed" pjl_whole "$out"
  check "$q, cancelled: cut at a page with the cancel trailer" trailer_then_close "$out"
  n=$(rendered "$out" "$E2E_WORK/$q-cancelled") || n=error
  check "$q, cancelled: ghostscript renders the pages up to the cut ($n of $total)" some_pages "$n"
  check "$q, cancelled: pstoLumora says the job was cancelled" log_has "$id" 'The job was cancelled\.'
  check "$q, cancelled: pstoLumora ended with status 0" \
    log_has "$id" 'pstoLumora\) exited with no errors'
  check "$q, cancelled: no error line from the filter" \
    bash -c "! grep -a '\[Job $id\]' '$LOG' | grep -a -q 'ERROR:'"
  rm -f "$OUT/$q.throttle"
done
check_temp_files_gone
echo "$CHECKS checks, $FAILURES failed"
