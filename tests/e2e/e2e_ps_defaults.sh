#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Queue defaults on the PostScript queues: an administrator's `lpadmin -o`
# default of each option the PPDs offer (PageSize, Duplex, Collate,
# FeedEdge) reaches the printer on every family for a job that does not
# name the option, and a job's own option still wins.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
make_box_pdf "$E2E_WORK/boxes.pdf" 72,650,72,72 200,500,100,50 300,100,150,150
make_box_pdf "$E2E_WORK/a5.pdf" 72,400,72,72

declare -A MODEL=([maple]=MP2100 [larch]=LP5100 [plain]=OP3100)

# family | lpadmin defaults | lp options | checks on the stream, separated
# by ";": pages=N (page comments), has:REGEX, not:REGEX (extended regexes)
cases=(
  "maple|Collate=True|-n 2|pages=6;not:NonPPDFeature: \*NumCopies"
  "maple|Collate=True|-n 2 -o Collate=False|pages=3;has:BeginNonPPDFeature: \*NumCopies 2"
  "maple|PageSize=Letter||has:PageSize Letter;has:MediaBox \[0 0 612 792\];not:MediaBox \[0 0 595 842\]"
  "maple|PageSize=Letter|-o PageSize=A4|has:MediaBox \[0 0 595 842\];not:MediaBox \[0 0 612 792\]"
  "maple|PageSize=A5 FeedEdge=LongEdge||has:@PJL SET PAPER=A5L"
  "maple|PageSize=A5 FeedEdge=LongEdge|-o FeedEdge=ShortEdge|not:PAPER=A5L"
  "maple|Duplex=DuplexNoTumble||has:Duplex DuplexNoTumble"
  "larch|Duplex=DuplexNoTumble||has:Duplex DuplexNoTumble;turned"
  "larch|Duplex=DuplexNoTumble|-o Duplex=None|not:Duplex DuplexNoTumble"
  "larch|PageSize=Letter||has:PageSize Letter"
  "larch|Collate=True|-n 2|pages=6"
  "plain|Collate=True|-n 2|pages=6"
  "plain|PageSize=Letter||has:PageSize Letter"
  "plain|Duplex=DuplexNoTumble||has:Duplex DuplexNoTumble"
)

# turned STREAM: page 2 of the box document is turned by half a turn
# (long-edge duplex on the Larch road).
turned() {
  local out=$1 dir=$2
  mkdir -p "$dir"
  sed -n '/^%!PS-Adobe/,/^%%EOF/p' "$out" > "$dir.ps"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r600 -o "$dir/page-%03d.pbm" "$dir.ps" &&
    python3 "$E2E_SRC/check_pages.py" "$dir" --sheet=595,842 \
      72,650,72,72 295,292,100,50 300,100,150,150
}

# stream_has STREAM CHECK: one check of the table.
stream_has() {
  local out=$1 what=$2 dir=$3
  case "$what" in
    pages=*) [ "$(grep -a -c '^%%Page:' "$out")" -eq "${what#pages=}" ] ;;
    has:*) grep -a -q -E -- "${what#has:}" "$out" ;;
    not:*) ! grep -a -q -E -- "${what#not:}" "$out" ;;
    turned) turned "$out" "$dir" ;;
    *) return 1 ;;
  esac
}

n=0
for c in "${cases[@]}"; do
  IFS='|' read -r family defaults opts checks <<< "$c"
  n=$((n + 1))
  queue="$family$n"
  model=${MODEL[$family]}
  add_ps_queue "$queue" "$model" "usb://Lumora/$model?serial=$n"
  for d in $defaults; do lpadmin -p "$queue" -o "$d" 2>/dev/null; done
  doc="$E2E_WORK/boxes.pdf"
  [[ $defaults == *A5* ]] && doc="$E2E_WORK/a5.pdf"
  # shellcheck disable=SC2086
  id=$(lp -d "$queue" $opts "$doc" | job_id)
  state=$(wait_job "$id" 60)
  what="$family, default $defaults${opts:+, job $opts}"
  if [ "$state" != completed ]; then
    fail "$what: job $state"
    continue
  fi
  IFS=';' read -r -a wants <<< "$checks"
  for want in "${wants[@]}"; do
    check "$what: $want" stream_has "$OUT/$queue-$id.prn" "$want" "$E2E_WORK/case$n"
  done
  check "$what: no stray error lines" no_stray_errors "$id"
done
check "no temporary file left behind" [ -z "$(temp_files_left)" ]
echo "$CHECKS checks, $FAILURES failed"
