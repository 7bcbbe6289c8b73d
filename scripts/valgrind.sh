#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs one job of each road under valgrind (memcheck, leaks included):
# rastertoLumora on a rendered raster, pstoLumora's PostScript road (maple
# rewriting with collated copies) and its PDF road (larch: qpdf, pdftops).
# Exits non-zero when valgrind reports any error or leak (definite, indirect
# or possible; memory the libraries keep until exit is not a leak). No
# suppression: every thread a job starts is joined before it ends.
#   scripts/valgrind.sh [BUILD_DIR]      (default: build, a normal build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BIN="$BUILD/bin"
PPDS="$BUILD/ppd-files"
for f in "$BIN/rastertoLumora" "$BIN/pstoLumora" "$PPDS/Lumora-Cedar-C300-Series.ppd" \
         "$PPDS/Lumora-MP2100-Series-PS.ppd" "$PPDS/Lumora-LP5100-Series-PS.ppd"; do
  [ -e "$f" ] || { echo "missing $f: build the project in $BUILD first" >&2; exit 2; }
done

WORK=$(mktemp -d /tmp/lumora-valgrind-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/tmp"

# The job: two A4 pages of text and shapes.
cat > "$WORK/job.ps" <<'PS'
%!PS-Adobe-3.0
%%Pages: 2
%%EndComments
%%BeginSetup
%%EndSetup
%%Page: 1 1
<< /PageSize [595 842] >> setpagedevice
/Helvetica findfont 28 scalefont setfont 72 720 moveto (Lumora valgrind page 1) show
0.5 setgray 72 300 300 300 rectfill showpage
%%Page: 2 2
<< /PageSize [595 842] >> setpagedevice
/Helvetica findfont 28 scalefont setfont 72 720 moveto (Lumora valgrind page 2) show
0 setgray 200 200 100 400 rectfill showpage
%%EOF
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -dcupsColorSpace=0 -dcupsBitsPerColor=8 \
   -dcupsColorOrder=0 -r600 -sOutputFile="$WORK/job.ras" "$WORK/job.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$WORK/job.pdf" "$WORK/job.ps"
{
  printf '\033%%-12345X@PJL JOB NAME="valgrind"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n'
  cat "$WORK/job.ps"
  printf '\004\033%%-12345X@PJL EOJ\r\n\033%%-12345X'
} > "$WORK/job.pjl"

status=0
# road NAME FILTER PPD OPTIONS INPUT
road() {
  local name=$1 filter=$2 ppd=$3 options=$4 input=$5
  echo "== $name"
  # No side channel (descriptors 3 and 4 closed) and no scheduler: the PPD
  # decides the printer, as in the tests.
  if env -i PATH=/usr/bin:/bin LANG=C TMPDIR="$WORK/tmp" PPD="$ppd" \
       CUPS_SERVER=/nonexistent-lumora/cups.sock LUMORA_MANUAL_DUPLEX_PAUSE=0 \
       valgrind --quiet --error-exitcode=1 --leak-check=full \
         --show-leak-kinds=definite,indirect,possible \
         --errors-for-leak-kinds=definite,indirect,possible \
         --log-file="$WORK/$name.valgrind" \
         "$filter" 42 valgrind "valgrind job" 2 "$options" "$input" \
         > "$WORK/$name.out" 2> "$WORK/$name.err" 3>&- 4>&-; then
    echo "   exit 0, $(wc -c < "$WORK/$name.out") bytes out, valgrind clean"
  else
    local rc=$?
    echo "   FAILED (exit $rc)"
    cat "$WORK/$name.valgrind"
    grep -a '^ERROR' "$WORK/$name.err" || true
    status=1
  fi
  if [ -n "$(ls -A "$WORK/tmp")" ]; then
    echo "   temporary files left: $(ls "$WORK/tmp")"
    status=1
  fi
}

road raster "$BIN/rastertoLumora" "$PPDS/Lumora-Cedar-C300-Series.ppd" \
  "Collate=True Duplex=DuplexNoTumble" "$WORK/job.ras"
road postscript "$BIN/pstoLumora" "$PPDS/Lumora-MP2100-Series-PS.ppd" "Collate PageSize=A4" \
  "$WORK/job.pjl"
road pdf "$BIN/pstoLumora" "$PPDS/Lumora-LP5100-Series-PS.ppd" "Duplex=DuplexNoTumble" \
  "$WORK/job.pdf"
exit $status
