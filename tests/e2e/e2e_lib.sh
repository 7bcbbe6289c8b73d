#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Shared steps of the end-to-end tests: each test script sources this file,
# gets its own private cupsd (stopped again when the script exits) and
# checks what reached the test backend and what the scheduler logged.
#
# Environment (set by tests/e2e/CMakeLists.txt):
#   E2E_STAGE    the driver as `DESTDIR=... cmake --install` laid it out
#   E2E_BACKEND  the built test backend
#   E2E_INSPECT  the built lumora-inspect (may be empty)
#   E2E_WORK     a directory for this test (emptied first)
set -euo pipefail
E2E_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=cupsd_rig.sh
source "$E2E_SRC/cupsd_rig.sh"

: "${E2E_STAGE:?}" "${E2E_BACKEND:?}" "${E2E_WORK:?}"
E2E_INSPECT=${E2E_INSPECT:-}
# shellcheck source=../common/checks.sh
source "$E2E_SRC/../common/checks.sh"

e2e_start() {
  rm -rf "$E2E_WORK"
  mkdir -p "$E2E_WORK"
  # The scheduler runs filters and backends as "lp", which must reach them:
  # the rig lives under /tmp (a build tree in /root would be out of reach);
  # its logs and captured jobs are copied to E2E_WORK when the test ends.
  RIG=$(mktemp -d /tmp/lumora-e2e.XXXXXX)
  trap e2e_exit EXIT
  rig_start "$RIG" "$E2E_STAGE" "$E2E_BACKEND"
  LOG="$RIG/log/error_log"
  OUT="$RIG/out"
}

e2e_exit() {
  local status=$?
  rig_stop "$RIG"
  mkdir -p "$E2E_WORK/rig"
  cp -a "$RIG/log" "$RIG/out" "$RIG/ppd" "$E2E_WORK/rig/" 2>/dev/null || true
  LOG="$E2E_WORK/rig/log/error_log"
  rm -rf "$RIG"
  if [ "$FAILURES" -gt 0 ] || [ "$status" -ne 0 ]; then
    echo "---- last lines of the scheduler log ($LOG) ----" >&2
    tail -n 60 "$LOG" >&2 2>/dev/null || true
    [ "$status" -ne 0 ] || status=1
  fi
  exit "$status"
}

# job_id REQUEST-LINE: "request id is q-7 (1 file(s))" -> 7
job_id() { sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p'; }

# wait_job ID [SECONDS]: waits until the scheduler no longer lists the job
# as pending or processing, then prints how it ended (from the scheduler's
# log): completed, canceled, aborted, stopped (a filter failed), or timeout.
wait_job() {
  local id=$1 limit=${2:-120} i
  for i in $(seq 1 $((limit * 10))); do
    if ! lpstat -W not-completed -o 2>/dev/null | grep -q -- "-$id "; then
      break
    fi
    # A filter that fails leaves the job in the "stopped" state.
    if job_log "$id" | grep -q 'Job stopped due to filter errors'; then
      echo stopped
      return 0
    fi
    sleep 0.1
  done
  if lpstat -W not-completed -o 2>/dev/null | grep -q -- "-$id "; then
    echo timeout
  elif job_log "$id" | grep -q 'Job completed\.'; then
    echo completed
  elif job_log "$id" | grep -q -i 'canceled by'; then
    echo canceled
  elif job_log "$id" | grep -q -i 'abort'; then
    echo aborted
  else
    echo stopped
  fi
}

# job_log ID: the scheduler's log lines of one job.
job_log() { grep -a "\[Job $1\]" "$LOG" || true; }

# log_has ID REGEX: one of the job's log lines matches (extended regex).
log_has() { job_log "$1" | grep -a -q -E -- "$2"; }

# no_stray_errors ID: no error lines in the job's log.  cupsd's own "E ["
# lines and filter "ERROR:" lines both count.
no_stray_errors() {
  local lines
  lines=$(job_log "$1" | grep -a -E '^E |ERROR:' || true)
  if [ -n "$lines" ]; then
    echo "$lines" >&2
    return 1
  fi
}

# make_box_pdf OUT.pdf BOX...: a PDF of A4 pages, page i holding one solid
# black rectangle BOX_i = "x,y,w,h" in points (origin bottom left).
make_box_pdf() {
  local out=$1
  shift
  {
    echo "%!PS-Adobe-3.0"
    echo "%%Pages: $#"
    echo "%%EndComments"
    local n=0 box
    for box in "$@"; do
      n=$((n + 1))
      echo "%%Page: $n $n"
      echo "<< /PageSize [595 842] >> setpagedevice"
      echo "0 setgray ${box//,/ } rectfill showpage"
    done
    echo "%%EOF"
  } > "$out.ps"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$out" "$out.ps"
}

# inspect_stream FILE PBM-DIR: decodes a captured job stream; fails when the
# reader finds any fault.
inspect_stream() {
  local file=$1 dir=$2
  [ -n "$E2E_INSPECT" ] || { echo "lumora-inspect not built" >&2; return 1; }
  "$E2E_INSPECT" --pbm "$dir" "$file" > "$dir.summary.txt"
}

# temp_files_left: files the driver's filters left in the scheduler's
# TempDir.  Ghostscript's own gs_* file, which a gstoraster killed by
# cancel leaves behind, is the system's and not counted.
temp_files_left() {
  find "$RIG/spool/tmp" -mindepth 1 -maxdepth 1 ! -name 'cups-*' ! -name 'gs_*' -print
}

# check_temp_files_gone: after cancelled jobs, whose filters may still be
# on their way out: waits up to 5 s for their temporary files to go, then
# checks that none is left.
check_temp_files_gone() {
  for _ in $(seq 1 50); do
    [ -z "$(temp_files_left)" ] && break
    sleep 0.1
  done
  check "no temporary file left behind" [ -z "$(temp_files_left)" ]
}

# wait_log ID REGEX: waits up to 60 s for a log line of the job that
# matches; fails when none came.
wait_log() {
  for _ in $(seq 1 600); do
    log_has "$1" "$2" && return 0
    sleep 0.1
  done
  log_has "$1" "$2"
}

# wait_stream QUEUE ID: the path of the job's capture, once the backend has
# renamed it (which it does when the filters closed the pipe); waits up to
# 30 s, and prints the path even when the capture never came.
wait_stream() {
  local f="$OUT/$1-$2.prn"
  for _ in $(seq 1 300); do
    [ -f "$f" ] && break
    sleep 0.1
  done
  echo "$f"
}

# add_ps_queue NAME MODEL URI: a queue of the PostScript model MODEL (e.g.
# MP2100) whose printer answers with the model's device ID.
add_ps_queue() {
  rig_add_queue "$1" "lumora/Lumora-$2-Series-PS.ppd" "$3" \
    "MFG:Lumora;CMD:PJL,PS;MDL:$2 series;CLS:PRINTER;DES:Lumora $2;"
}
