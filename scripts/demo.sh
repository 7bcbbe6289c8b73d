#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The driver at work, on a fresh machine: installs what is missing, builds,
# installs the driver into a private CUPS scheduler (nothing of the system's
# CUPS is touched), and prints a three-page sample (text, a gray ramp, a
# photo-like picture) through the real CUPS filter chain to one printer of
# each raster family and to a maple and a Larch PostScript printer.  A test backend stands in for the printer and keeps
# each job stream; lumora-inspect turns every page into a PNG.  Then the same
# sample goes through the printer application (lumora-printer-app) to one
# printer of each raster family.
#
#   bash scripts/demo.sh [OUT_DIR]        (default: out/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-$root/out/demo}
mkdir -p "$out"
out=$(cd "$out" && pwd)

say() { printf '\n== %s\n' "$*"; }

say "Installing missing packages"
bash scripts/install-deps.sh

say "Building"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
# Only what the demo runs: both filters, the PPDs, the stream reader and the
# test backend (scripts/test.sh builds everything).
cmake --build build -j"$(nproc)" --target rastertoLumora pstoLumora lumora_ppds \
  lumora-inspect lumora-test-backend lumora-printer-app > "$out/build.log" 2>&1 || {
  tail -n 30 "$out/build.log"; echo "build failed: see $out/build.log"; exit 1; }

say "Installing the driver into a staging tree (DESTDIR)"
rm -rf "$out/stage" "$out/logs"
if ! DESTDIR="$out/stage" cmake --install build > "$out/install.log" 2>&1; then
  # Something else to install was not built yet: build everything.
  cmake --build build -j"$(nproc)" >> "$out/build.log" 2>&1
  DESTDIR="$out/stage" cmake --install build > "$out/install.log"
fi
echo "filters and PPDs staged under $out/stage"

say "Making the sample document"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$out/sample.pdf" tests/e2e/sample_document.ps
echo "$out/sample.pdf (3 pages)"

say "Starting a private CUPS scheduler"
# shellcheck source=../tests/e2e/cupsd_rig.sh
source tests/e2e/cupsd_rig.sh
# The scheduler runs filters as "lp", which must reach them: the scheduler's
# directory lives under /tmp; its logs are copied to $out/logs at the end.
rig=$(mktemp -d /tmp/lumora-demo.XXXXXX)
finish() {
  rig_stop "$rig"
  mkdir -p "$out/logs"
  cp -a "$rig/log/." "$out/logs/" 2>/dev/null || true
  rm -rf "$rig"
}
trap finish EXIT
rig_start "$rig" "$out/stage" build/bin/lumora-test-backend
echo "CUPS_SERVER=$CUPS_SERVER"

# One model of each raster family: Hazel (PLATFORM_C), Hazel MFP
# (PLATFORM_C, its own paper table), Cedar/Birch (PLATFORM_Z), Elm/Fir
# (PLATFORM_M).
models=("Hazel H1" "Hazel M1" "Cedar C300" "Elm E200")
declare -A job
for model in "${models[@]}"; do
  queue=${model// /-}
  rig_add_queue "$queue" "lumora/Lumora-$queue-Series.ppd" "usb://Lumora/$queue?serial=DEMO" 2>/dev/null
  job[$queue]=$(lp -d "$queue" -t "Lumora sample" "$out/sample.pdf" | sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p')
  echo "queue $queue (Lumora $model Series): job ${job[$queue]}"
done

# And the PostScript printers: a maple (PostScript rewritten by pstoLumora)
# and a Larch (the PDF converted by pstoLumora); their backends report the
# printers' device ids.
ps_models=("MP2100" "LP5100")
for model in "${ps_models[@]}"; do
  rig_add_queue "$model" "lumora/Lumora-$model-Series-PS.ppd" "socket://127.0.0.1:9100/$model" \
    "MFG:Lumora;CMD:PJL,PS;MDL:$model series;CLS:PRINTER;DES:Lumora $model;" 2>/dev/null
  job[$model]=$(lp -d "$model" -t "Lumora sample" "$out/sample.pdf" | sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p')
  echo "queue $model (Lumora $model Series PS): job ${job[$model]}"
done

say "Printing"
rig_wait_jobs 300

status=0
# Copies the job data and log lines of queue $1's job into $out/$1 (dir).
collect_job() {
  local queue=$1 id=${job[$1]}
  dir="$out/$queue"
  rm -rf "$dir"
  mkdir -p "$dir"
  local stream="$rig/out/$queue-$id.prn"
  if [ ! -s "$stream" ]; then
    echo "$queue: no job data arrived; see $out/logs/error_log"
    status=1
    return 1
  fi
  cp "$stream" "$dir/job.prn"
  grep -a "\[Job $id\]" "$rig/log/error_log" > "$dir/scheduler.log" || true
}

for model in "${models[@]}"; do
  queue=${model// /-}
  collect_job "$queue" || continue
  if build/bin/lumora-inspect --png "$dir" "$dir/job.prn" > "$dir/summary.txt"; then
    echo "$queue: $(head -n 1 "$dir/summary.txt" | sed 's/^[^:]*: //'), pages: $(find "$dir" -name '*.png' | wc -l)"
  else
    echo "$queue: lumora-inspect found faults, see $dir/summary.txt"
    status=1
  fi
done

for model in "${ps_models[@]}"; do
  collect_job "$model" || continue
  # The PostScript between the PJL lines, as the printer would render it.
  sed -n '/^%!PS-Adobe/,/^%%EOF/p' "$dir/job.prn" > "$dir/job.ps"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r150 -o "$dir/page-%03d.png" "$dir/job.ps"
  grep -a '^@PJL' "$dir/job.prn" | tr -d '\r' > "$dir/summary.txt"
  echo "$model: PostScript job, $(grep -a -c '^%%Page:' "$dir/job.prn") pages, PJL: $(grep -a -c '^@PJL' "$dir/job.prn") lines"
done

say "The printer application: the same sample to one printer of each raster family"
# lumora-printer-app serves the raster printers as IPP Everywhere printers;
# here on a private port, with network printers on 127.0.0.1 that keep what
# they receive, and the sample PDF submitted as a phone or CUPS would.
app_out="$out/app"
rm -rf "$app_out"
mkdir -p "$app_out/devices"
app="$app_out/lumora-printer-app-demo"
ln -s "$root/build/bin/lumora-printer-app" "$app"
helpers=tests/printer_app/app_helpers.py
app_port=$(python3 "$helpers" free-port)
app_names=()
for model in "${models[@]}"; do app_names+=("${model// /-}:keep"); done
python3 "$helpers" devices "$app_out/devices" "${app_names[@]}" &
devices_pid=$!
for model in "${models[@]}"; do
  for _ in $(seq 1 50); do [ -s "$app_out/devices/${model// /-}.port" ] && break; sleep 0.1; done
done
"$app" server -o server-port="$app_port" -o spool-directory="$app_out/spool" \
  -o state-file="$app_out/app.state" -o log-file="$app_out/app.log" -o log-level=info \
  -o server-options=no-tls > "$app_out/server.out" 2>&1 &
app_pid=$!
stop_app() {
  kill "$app_pid" "$devices_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  # PAPPL leaves its local socket behind.
  rm -f "/run/lumora-printer-app-demo.sock" "${TMPDIR:-/tmp}/lumora-printer-app-demo$(id -u).sock"
}
trap 'stop_app; finish' EXIT
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$app_port") 2>/dev/null && break
  sleep 0.1
done
echo "server: http://localhost:$app_port/ (log $app_out/app.log)"
for model in "${models[@]}"; do
  name=${model// /-}
  driver="lumora_$(echo "$model" | tr 'A-Z ' 'a-z_')"
  # (Administration goes through the control socket.)
  "$app" add -d "$name" -m "$driver" \
    -v "socket://127.0.0.1:$(cat "$app_out/devices/$name.port")"
  "$app" submit -u "ipp://localhost:$app_port/ipp/print/$name" -t "Lumora sample" "$out/sample.pdf" > /dev/null
  echo "printer $name (driver $driver): sample submitted"
done
printf '%s\n' '{ OPERATION Get-Job-Attributes' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
  '  ATTR uri printer-uri $uri' '  ATTR integer job-id 1' '  ATTR keyword requested-attributes job-state' \
  '  STATUS successful-ok' '  EXPECT job-state OF-TYPE enum IN-GROUP job-attributes-tag WITH-VALUE >6' '}' \
  > "$app_out/job-ended.test"
for model in "${models[@]}"; do
  name=${model// /-}
  dir="$app_out/$name"
  mkdir -p "$dir"
  # Done when the printer's job (its first) has ended: "jobs" lists the
  # ended jobs too.
  for _ in $(seq 1 600); do
    ipptool -t "ipp://localhost:$app_port/ipp/print/$name" "$app_out/job-ended.test" > /dev/null 2>&1 && break
    sleep 0.1
  done
  cp "$app_out/devices/$name-1.prn" "$dir/job.prn" 2>/dev/null || true
  if [ -s "$dir/job.prn" ] && build/bin/lumora-inspect --png "$dir" "$dir/job.prn" > "$dir/summary.txt"; then
    echo "app $name: $(head -n 1 "$dir/summary.txt" | sed 's/^[^:]*: //'), pages: $(find "$dir" -name '*.png' | wc -l)"
  else
    echo "app $name: no whole job stream, see $app_out/app.log"
    status=1
  fi
done
stop_app
trap finish EXIT

say "Where everything is"
cat <<EOF
  Sample document:       $out/sample.pdf
  Per printer, in $out/<queue>/:
    job.prn              the job stream the printer would receive
    page-NNN.png         each printed page as the printer would print it
    summary.txt          lumora-inspect's account of the stream (PostScript
                         printers: the PJL lines; job.ps is the PostScript)
    scheduler.log        the scheduler's log lines of the job
  Scheduler logs:        $out/logs/error_log, page_log
  Printer application:   $out/app/<printer>/ (job.prn, page-NNN.png, summary.txt),
                         its log $out/app/app.log
  Look at a page:        xdg-open $out/Cedar-C300/page-001.png
  Read a stream again:   build/bin/lumora-inspect --json $out/Elm-E200/job.prn
EOF
exit $status
