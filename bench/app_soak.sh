#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Soak of the printer application (app_soak.py): four printers of four
# families on slow and vanishing network printers, JOBS mixed jobs (PWG
# raster retried on busy, PDF, JPEG, PNG, with copies) from four clients,
# one in eight cancelled. Reports the jobs' ends, the streams checked with
# lumora-inspect, the server's resident memory before and after, and what
# is left in the spool directory.
#   bench/app_soak.sh [BUILD_DIR] [JOBS] [SEED]
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$SRC/build}" && pwd)
JOBS=${2:-200}
SEED=${3:-25}
export APP_BIN=$BUILD/bin/lumora-printer-app APP_FILTER=$BUILD/bin/rastertoLumora
export APP_INSPECT=$BUILD/bin/lumora-inspect APP_PPD_DIR=$BUILD/ppd-files
export APP_WORK=${APP_WORK:-$BUILD/app-soak}
source "$SRC/tests/printer_app/app_lib.sh"
app_begin
W=$APP_WORK
sample="$SRC/tests/e2e/sample_document.ps"
pwg_pages "$W/sample.pwg" 600 < "$sample"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$W/sample.pdf" "$sample"
for dev in jpeggray pnggray; do
  gs -q -dSAFER -dBATCH -dNOPAUSE -dLastPage=1 -sDEVICE=$dev -r60 -sPAPERSIZE=a4 -o "$W/page.$dev" "$sample"
done
pages=$(grep -c "^%%Page:" "$sample" || true)
server_start
rss() { awk '/VmRSS/ {print $2}' "/proc/$SERVER_PID/status"; }
before=$(rss)
check "soak" python3 "$SRC/bench/app_soak.py" "$APP" "$PORT" "$W/dev" "$APP_INSPECT" "$JOBS" "$SEED" \
  "$W/sample.pwg" "$W/sample.pdf" "$W/page.jpeggray" "$W/page.pnggray" "$pages" "$pages" 1 1
sleep 2
echo "server RSS: ${before} kB before, $(rss) kB after (peak $(awk '/VmHWM/ {print $2}' "/proc/$SERVER_PID/status") kB)"
left=$(find "$W/spool" -type f ! -name '*.state' | wc -l)
check "nothing left in the spool ($left files)" [ "$left" = 0 ]
