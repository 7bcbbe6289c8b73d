#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Shared steps of the printer application's end-to-end tests: a server of
# the test's own (its own port, spool, state, log and local socket), network
# printers on 127.0.0.1 that keep what they receive, jobs sent with ipptool.
#
# Environment (set by tests/printer_app/CMakeLists.txt):
#   APP_BIN       the built lumora-printer-app
#   APP_FILTER    the built rastertoLumora
#   APP_INSPECT   the built lumora-inspect
#   APP_PPD_DIR   the generated PPDs
#   APP_WORK      a directory for this test (emptied first)
set -euo pipefail
APP_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${APP_BIN:?}" "${APP_FILTER:?}" "${APP_INSPECT:?}" "${APP_PPD_DIR:?}" "${APP_WORK:?}"
HELPERS="$APP_SRC/app_helpers.py"
# Where the server listens (a test may open it to another address).
APP_HOST=${APP_HOST:-localhost}
APP_ADDRESS=${APP_ADDRESS:-127.0.0.1}
# Under the sanitizers: PAPPL's own leaks are not the driver's.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$APP_SRC/lsan.supp"
# shellcheck source=../common/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common/checks.sh"

app_begin() {
  rm -rf "$APP_WORK"
  mkdir -p "$APP_WORK/dev"
  # The program's name decides its local socket (/run/NAME.sock as root):
  # a name of this run's own keeps it apart from any other server.
  APP="$APP_WORK/lpa-test-$$"
  ln -s "$APP_BIN" "$APP"
  SERVER_PID=""
  DEVICES_PID=""
  trap app_end EXIT
}

app_end() {
  local status=$?
  server_stop
  # PAPPL leaves its local socket behind.
  # (The server's own: a link to the socket in a private directory.)
  rm -f "/run/lpa-test-$$.sock" "${TMPDIR:-/tmp}/lpa-test-$$$(id -u).sock"
  rm -rf "/run/lpa-test-$$".?????? "${TMPDIR:-/tmp}/lpa-test-$$$(id -u)".??????
  [ -z "$DEVICES_PID" ] || kill "$DEVICES_PID" 2>/dev/null || true
  [ -z "${CUPSD_PID:-}" ] || { kill "$CUPSD_PID" 2>/dev/null || true; }
  local pid
  for pid in ${EXTRA_PIDS:-}; do kill "$pid" 2>/dev/null || true; done
  if [ "$FAILURES" -gt 0 ] || [ "$status" -ne 0 ]; then
    echo "---- last lines of the server log ----" >&2
    tail -n 40 "$APP_WORK/app.log" >&2 2>/dev/null || true
    [ "$status" -ne 0 ] || status=1
  fi
  if grep -a -q -E "ERROR: AddressSanitizer|runtime error:" "$APP_WORK/server.out" 2>/dev/null; then
    echo "FAIL: the server reported memory errors:" >&2
    grep -a -A20 -E "ERROR: AddressSanitizer|runtime error:" "$APP_WORK/server.out" | head -40 >&2
    FAILURES=$((FAILURES + 1))
    [ "$status" -ne 0 ] || status=1
  fi
  echo "$((CHECKS - FAILURES)) passed, $FAILURES failed"
  exit "$status"
}

# devices NAME:MODE...: starts the network printers (see app_helpers.py).
devices() {
  python3 "$HELPERS" devices "$APP_WORK/dev" "$@" &
  DEVICES_PID=$!
  local spec
  for spec in "$@"; do
    wait_for 5 test -s "$APP_WORK/dev/${spec%%:*}.port" || { echo "no device ${spec%%:*}" >&2; exit 1; }
  done
}
device_uri() { echo "socket://127.0.0.1:$(cat "$APP_WORK/dev/$1.port")"; }

# wait_for SECONDS COMMAND...: until the command succeeds.
wait_for() {
  local limit=$1 i
  shift
  for i in $(seq 1 $((limit * 10))); do
    if "$@" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  return 1
}

# server_start [EXTRA OPTIONS...]: the server on loopback, without TLS.
server_start() {
  PORT=${PORT:-$(python3 "$HELPERS" free-port)}
  SYSTEM_URI="ipp://$APP_HOST:$PORT/ipp/system"
  "$APP" server -o server-port="$PORT" -o spool-directory="$APP_WORK/spool" \
    -o state-file="$APP_WORK/app.state" -o log-file="$APP_WORK/app.log" \
    -o log-level=debug -o server-options=no-tls "$@" >> "$APP_WORK/server.out" 2>&1 &
  SERVER_PID=$!
  # Not the program's own commands: one that finds no server starts one.
  wait_for 30 bash -c "exec 3<>/dev/tcp/$APP_ADDRESS/$PORT" || { echo "server did not start" >&2; exit 1; }
  wait_for 10 grep -q "Listening for connections on '/" "$APP_WORK/app.log"
}

# server_stop: SIGTERM (the server saves its state) and wait for the exit.
server_stop() {
  [ -n "$SERVER_PID" ] || return 0
  kill "$SERVER_PID" 2>/dev/null || true
  wait_for 60 bash -c "! kill -0 $SERVER_PID" || kill -9 "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=""
}
server_alive() { kill -0 "$SERVER_PID" 2>/dev/null; }
# control_socket: the server's local socket (the command line's way in).
control_socket() {
  if [ "$(id -u)" = 0 ]; then echo "/run/lpa-test-$$.sock"; else echo "${TMPDIR:-/tmp}/lpa-test-$$$(id -u).sock"; fi
}

add_printer() {  # add_printer NAME DRIVER DEVICE-NAME (through the local socket)
  "$APP" add -d "$1" -m "$2" -v "$(device_uri "$3")"
}
printer_uri() { echo "ipp://$APP_HOST:$PORT/ipp/print/$1"; }

# submit PRINTER FILE FORMAT [ATTR-LINE...]: Print-Job with ipptool; prints
# the job id. ATTR-LINE: an ipptool job attribute, "keyword sides ...".
submit() {
  local printer=$1 file=$2 format=$3
  shift 3
  local test
  test=$(mktemp "$APP_WORK/print.XXXXXX.test")
  {
    echo "{ OPERATION Print-Job"
    echo "  GROUP operation-attributes-tag"
    echo "  ATTR charset attributes-charset utf-8"
    echo "  ATTR naturalLanguage attributes-natural-language en"
    echo "  ATTR uri printer-uri \$uri"
    echo "  ATTR name requesting-user-name tester"
    echo "  ATTR mimeMediaType document-format $format"
    echo "  ATTR name job-name \"Lumora sample\""
    echo "  GROUP job-attributes-tag"
    local a
    for a in "$@"; do echo "  ATTR $a"; done
    echo "  FILE \$filename"
    echo "  STATUS successful-ok"
    echo "  EXPECT job-id OF-TYPE integer"
    echo "}"
  } > "$test"
  ipptool -tv -f "$file" "$(printer_uri "$printer")" "$test" > "$test.out" 2>&1 || {
    cat "$test.out" >&2
    return 1
  }
  sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' "$test.out" | head -n 1
}

# job_state PRINTER ID: the job's state keyword (pending ... completed).
job_state() {
  local test="$APP_WORK/job-state.test"
  [ -f "$test" ] || printf '%s\n' '{ OPERATION Get-Job-Attributes' \
    '  GROUP operation-attributes-tag' \
    '  ATTR charset attributes-charset utf-8' \
    '  ATTR naturalLanguage attributes-natural-language en' \
    '  ATTR uri printer-uri $uri' \
    '  ATTR integer job-id $job_id' \
    '  ATTR keyword requested-attributes job-state,job-state-message' \
    '  STATUS successful-ok' '}' > "$test"
  ipptool -tv -d job_id="$2" "$(printer_uri "$1")" "$test" 2>/dev/null |
    sed -n 's/.*job-state (enum) = \(.*\)/\1/p' | head -n 1
}
# job_message PRINTER ID: the job's state message.
job_message() {
  job_state "$1" "$2" > /dev/null
  ipptool -tv -d job_id="$2" "$(printer_uri "$1")" "$APP_WORK/job-state.test" 2>/dev/null |
    sed -n 's/.*job-state-message (textWithoutLanguage) = \(.*\)/\1/p' | head -n 1
}
# printer_reasons PRINTER: its printer-state-reasons.
printer_reasons() {
  printf '%s\n' '{ OPERATION Get-Printer-Attributes' '  GROUP operation-attributes-tag' \
    '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
    '  ATTR uri printer-uri $uri' '  ATTR keyword requested-attributes printer-state-reasons' \
    '  STATUS successful-ok' '}' > "$APP_WORK/reasons.test"
  ipptool -tv "$(printer_uri "$1")" "$APP_WORK/reasons.test" | sed -n 's/.*printer-state-reasons (.*) = //p'
}
# printer_idle PRINTER: no job is printing or waiting.
printer_idle() {
  printf '%s\n' '{ OPERATION Get-Printer-Attributes' '  GROUP operation-attributes-tag' \
    '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
    '  ATTR uri printer-uri $uri' '  ATTR keyword requested-attributes printer-state,queued-job-count' \
    '  STATUS successful-ok' '}' > "$APP_WORK/idle.test"
  ipptool -tv "$(printer_uri "$1")" "$APP_WORK/idle.test" > "$APP_WORK/idle.out" &&
    grep -q "printer-state (enum) = idle" "$APP_WORK/idle.out" &&
    grep -q "queued-job-count (integer) = 0" "$APP_WORK/idle.out"
}
job_is() { [ "$(job_state "$1" "$2")" = "$3" ]; }
# wait_job PRINTER ID [SECONDS]: completed, aborted, canceled or timeout.
wait_job() {
  local printer=$1 id=$2 limit=${3:-120} state
  for _ in $(seq 1 $((limit * 10))); do
    state=$(job_state "$printer" "$id")
    case "$state" in
      completed | aborted | canceled) echo "$state"; return 0 ;;
    esac
    sleep 0.1
  done
  echo timeout
}
# log_has TEXT: the server logged the text.
server_log() { cat "$APP_WORK"/app.log.O "$APP_WORK"/app.log 2>/dev/null || true; }
log_has() { server_log | grep -a -q -F -- "$1"; }

# job_options PRINTER ID: the option string the job printed with, as the
# driver logs it ("[Job ID] Job options (PRINTER): ...").
job_options() {
  server_log | grep -a "\[Job $2\] Job options ($1): " | sed -n 's/.*Job options ([^)]*): //p' | tail -n 1
}

# filter_reference OUT MODEL JOB-ID OPTIONS RASTER: the job stream of
# rastertoLumora for the same raster, options and job id.
filter_reference() {
  local out=$1 model=$2 id=$3 options=$4 raster=$5
  LUMORA_MANUAL_DUPLEX_PAUSE=0 PPD="$APP_PPD_DIR/Lumora-$model-Series.ppd" "$APP_FILTER" "$id" tester "Lumora sample" 1 \
    "$options" "$raster" > "$out" 2> "$out.log"
}

# inspect_ok STREAM DIR: the stream reads back without faults.
inspect_ok() { "$APP_INSPECT" --pbm "$2" "$1" > "$2.summary.txt" 2>&1; }
pages_in() { grep -c '^Page [0-9]*:' "$1.summary.txt" || true; }

# make_box_pdf OUT.pdf BOX...: A4 pages, page i one black rectangle "x,y,w,h".
make_box_pdf() {
  local out=$1 n=0 box
  shift
  {
    echo "%!PS-Adobe-3.0"
    echo "%%Pages: $#"
    for box in "$@"; do
      n=$((n + 1))
      echo "%%Page: $n $n"
      echo "<< /PageSize [595 842] >> setpagedevice 0 setgray ${box//,/ } rectfill showpage"
    done
    echo "%%EOF"
  } > "$out.ps"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$out" "$out.ps"
}

# pwg_pages OUT DPI [DUPLEX] < POSTSCRIPT: 8-bit gray PWG raster, A4.
pwg_pages() {
  local out=$1 dpi=$2 duplex=${3:-false}
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
    -r"$dpi" -sPAPERSIZE=a4 -dFIXEDMEDIA -dDuplex="$duplex" -sOutputFile="$out" - > /dev/null
}

# make_accounts: in the test's own mount namespace, an administrator
# (lpa-admin / admin-secret, group lpa-admins) and a user (lpa-user /
# user-secret), checked by PAM through the shipped PAM service.
make_accounts() {
  mkdir -p "$APP_WORK/etc"
  cp /etc/passwd /etc/group /etc/shadow "$APP_WORK/etc/"
  cp -a /etc/pam.d "$APP_WORK/etc/pam.d"
  cp "$APP_SRC/../../printer_app/lumora-printer-app.pam" "$APP_WORK/etc/pam.d/lumora-printer-app"
  printf '%s\n' "lpa-admin:x:4701:4701::/nonexistent:/usr/sbin/nologin" \
    "lpa-user:x:4702:4702::/nonexistent:/usr/sbin/nologin" >> "$APP_WORK/etc/passwd"
  printf '%s\n' "lpa-admins:x:4701:" "lpa-user:x:4702:" >> "$APP_WORK/etc/group"
  printf '%s\n' "lpa-admin:$(openssl passwd -6 admin-secret):19000:0:99999:7:::" \
    "lpa-user:$(openssl passwd -6 user-secret):19000:0:99999:7:::" >> "$APP_WORK/etc/shadow"
  local f
  for f in passwd group shadow pam.d; do mount --bind "$APP_WORK/etc/$f" "/etc/$f"; done
}

# printer_attr PRINTER NAME: the values of one printer attribute, as ipptool
# prints them.
printer_attr() {
  printf '%s\n' '{ OPERATION Get-Printer-Attributes' '  GROUP operation-attributes-tag' \
    '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
    '  ATTR uri printer-uri $uri' "  ATTR keyword requested-attributes $2" \
    '  STATUS successful-ok' '}' > "$APP_WORK/attr.test"
  ipptool -tv "$(printer_uri "$1")" "$APP_WORK/attr.test" | sed -n "s/^ *$2 ([^)]*) = //p"
}

# browse LANGUAGE URL OUT-BASE: the page as headless Chromium builds it
# (OUT-BASE.html) and shows it (OUT-BASE.png).
browse() {
  local flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run
               --disable-background-networking --disable-component-update --disable-sync
               --lang="$1" --accept-lang="$1" --window-size=1200,900)
  timeout 60 "$CHROMIUM" "${flags[@]}" --user-data-dir="$(mktemp -d "$APP_WORK/chrome.XXXXXX")" \
    --dump-dom "$2" > "$3.html" 2> /dev/null
  timeout 60 "$CHROMIUM" "${flags[@]}" --user-data-dir="$(mktemp -d "$APP_WORK/chrome.XXXXXX")" \
    --screenshot="$3.png" "$2" > /dev/null 2>&1
}
