#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The printer application's PostScript printers against the classic road:
# the same real PDF (groff's PostScript of CUPS's manual pages, made into a
# PDF) printed RUNS times to a maple and a Larch printer of the application
# and to private cupsd queues of the same PPDs through pstoLumora. Prints
# the median time from submission to the job's completion on each road and
# their ratio; the target is an application no slower than 1.2 x the queue.
# Runs as root in a network namespace of its own (the printers' SNMP agents
# on loopback addresses).
#   bench/app_ps_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$SRC/build}" && pwd)
RUNS=${2:-5}
if [ "${APP_PS_NETNS:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "app_ps_bench.sh: run as root" >&2; exit 2; }
  APP_PS_NETNS=1 exec unshare -n bash "$0" "$BUILD" "$RUNS"
fi
ip link set lo up
export APP_BIN=$BUILD/bin/lumora-printer-app APP_FILTER=/bin/true APP_INSPECT=/bin/true
export APP_PPD_DIR=$BUILD/ppd-files APP_WORK=$BUILD/app-ps-bench
APP_TESTS=$SRC/tests/printer_app
source "$APP_TESTS/app_lib.sh"
app_begin
W=$APP_WORK
id_of() { echo "MFG:Lumora;CMD:PJL,PS;MDL:$1 series;CLS:PRINTER;DES:Lumora $1;"; }

# The document.
for page in man5/cupsd.conf.5 man8/lpadmin.8 man1/lp.1 man1/lpstat.1 man1/lpoptions.1 man8/cupsd.8; do
  f=/usr/share/man/$page.gz
  [ -f "$f" ] && { zcat "$f"; echo ".bp"; }
done | groff -man -Tps > "$W/manual.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$W/manual.pdf" "$W/manual.ps"
pages=$(grep -a -c '^%%Page:' "$W/manual.ps")

python3 "$APP_TESTS/ps_helpers.py" printers "$W/dev" "maple@127.0.0.2|id=$(id_of MP2100)" \
  "larch@127.0.0.3|id=$(id_of LP5100)" > /dev/null 2>&1 &
DEVICES_PID=$!
wait_for 10 test -f "$W/dev/ready"
server_start > /dev/null
"$APP" add -d maple -m lumora_mp2100 -v socket://127.0.0.2
"$APP" add -d larch -m lumora_lp5100 -v socket://127.0.0.3

mkdir -p "$W/stage/filter" "$W/stage/ppd"
cp "$BUILD/bin/pstoLumora" "$W/stage/filter/"
cp "$APP_PPD_DIR"/Lumora-MP2100-Series-PS.ppd "$APP_PPD_DIR"/Lumora-LP5100-Series-PS.ppd "$W/stage/ppd/"
source "$SRC/tests/e2e/cupsd_rig.sh"
RIG=$(mktemp -d /tmp/lumora-app-ps-bench.XXXXXX)
rig_setup "$RIG" "$W/stage" "$BUILD/bin/lumora-test-backend" > /dev/null
echo "LogTimeFormat usecs" >> "$RIG/cupsd.conf"
export CUPS_SERVER="$RIG/cups.sock"
setsid cupsd -f -c "$RIG/cupsd.conf" -s "$RIG/cups-files.conf" > "$RIG/log/cupsd.out" 2>&1 < /dev/null &
CUPSD_PID=$!
echo "$CUPSD_PID" > "$RIG/cupsd.pid"
wait_for 10 bash -c "lpstat -r | grep -q 'is running'"
rig_add_queue maple lumora/Lumora-MP2100-Series-PS.ppd socket://127.0.0.2 "$(id_of MP2100)" 2> /dev/null
rig_add_queue larch lumora/Lumora-LP5100-Series-PS.ppd socket://127.0.0.3 "$(id_of LP5100)" 2> /dev/null

now() { date +%s.%N; }
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
app_once() {
  local t0 id
  t0=$(now)
  id=$(submit "$1" "$W/manual.pdf" application/pdf "keyword sides two-sided-long-edge")
  while ! job_is "$1" "$id" completed; do sleep 0.02; done
  awk -v a="$(now)" -v b="$t0" 'BEGIN { print a - b }'
}
cupsd_once() {
  local t0
  t0=$(now)
  lp -d "$1" -o sides=two-sided-long-edge "$W/manual.pdf" > /dev/null
  while [ -n "$(lpstat -W not-completed -o "$1" 2> /dev/null)" ]; do sleep 0.02; done
  awk -v a="$(now)" -v b="$t0" 'BEGIN { print a - b }'
}
# The servers' own times, from the document's arrival to the job's end.
server_times() {
  python3 - "$W/app.log" "$RIG/log/error_log" "$1" "$2" <<'PY'
import datetime, re, statistics, sys
app, cups, app_from, cups_from = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def times(path, skip, start, end, stamp, parse):
    begun, spans = {}, []
    for line in open(path, errors="replace").readlines()[skip:]:
        m = re.search(stamp + r".*\[Job (\d+)\] (.*)", line)
        if not m:
            continue
        t, job, text = parse(m.group(1)), m.group(2), m.group(3)
        if re.match(start, text):
            begun[job] = t
        elif re.match(end, text) and job in begun:
            spans.append(t - begun.pop(job))
    return spans
iso = lambda s: datetime.datetime.strptime(s, "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()
usecs = lambda s: datetime.datetime.strptime(s, "%d/%b/%Y:%H:%M:%S.%f").timestamp()
a = times(app, app_from, r"Received \d+ bytes", r"Completed", r"\[(\S+)\] ", iso)
c = times(cups, cups_from, r"File of type", r"Job completed", r"\[(\S+) [+-]\d+\]", usecs)
print("%.3f %.3f" % (statistics.median(c), statistics.median(a)))
PY
}
printf '%-7s %6s %12s %12s %7s %14s %14s %7s\n' printer pages "cupsd (s)" "app (s)" ratio \
  "cupsd job (s)" "app job (s)" ratio
for p in maple larch; do
  app_once "$p" > /dev/null
  cupsd_once "$p" > /dev/null
  from_app=$(wc -l < "$W/app.log")
  from_cups=$(wc -l < "$RIG/log/error_log")
  # Alternating, so that other work on the machine weighs on both roads.
  : > "$W/app.times"
  : > "$W/cupsd.times"
  for _ in $(seq 1 "$RUNS"); do
    app_once "$p" >> "$W/app.times"
    cupsd_once "$p" >> "$W/cupsd.times"
  done
  a=$(median < "$W/app.times")
  c=$(median < "$W/cupsd.times")
  read -r sc sa <<< "$(server_times "$from_app" "$from_cups")"
  printf '%-7s %6s %12.3f %12.3f %7.2f %14.3f %14.3f %7.2f\n' "$p" "$pages" "$c" "$a" \
    "$(awk -v a="$a" -v c="$c" 'BEGIN { print a / c }')" "$sc" "$sa" \
    "$(awk -v a="$sa" -v c="$sc" 'BEGIN { print a / c }')"
done
rig_stop "$RIG"
CUPSD_PID=""
cp "$RIG/log/error_log" "$W/cupsd_error_log"; rm -rf "$RIG"
