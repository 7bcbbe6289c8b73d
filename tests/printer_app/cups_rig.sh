#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A private cupsd that reaches IPP printers (here: the printer application on
# loopback) through the system's ipp backend: its configuration, spool and
# logs in one directory, listening only on a local socket.
#   cups_start DIR      sets it up, starts it, exports CUPS_SERVER
#   cups_wait_idle SECONDS
#   cups_stop

# shellcheck source=../e2e/cupsd_rig.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/cupsd_rig.sh"

cups_start() {
  local dir=$1 f
  mkdir -p "$dir"/{spool,spool/tmp,cache,state,log,ppd,serverbin/filter,serverbin/backend}
  chmod 0755 "$dir" "$dir"/{spool,cache,state,log,ppd,serverbin,serverbin/filter,serverbin/backend}
  chmod 1777 "$dir/spool/tmp"
  local serverbin
  serverbin=$(cups-config --serverbin)
  ln -sfn "$serverbin/daemon" "$dir/serverbin/daemon"
  for f in "$serverbin"/filter/*; do ln -sfn "$f" "$dir/serverbin/filter/"; done
  ln -sfn "$serverbin/backend/ipp" "$dir/serverbin/backend/ipp"
  rig_write_config "$dir" "$(cups-config --datadir)"
  setsid cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" > "$dir/log/cupsd.out" 2>&1 &
  CUPSD_PID=$!
  export CUPS_SERVER="$dir/cups.sock"
  local i
  for i in $(seq 1 100); do
    lpstat -r > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "cupsd did not start" >&2
  return 1
}

cups_wait_idle() {
  local i
  for i in $(seq 1 $(($1 * 10))); do
    [ -z "$(lpstat -W not-completed -o 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  return 1
}

cups_stop() {
  [ -n "${CUPSD_PID:-}" ] || return 0
  kill "$CUPSD_PID" 2>/dev/null || true
  local i
  for i in $(seq 1 50); do kill -0 "$CUPSD_PID" 2>/dev/null || break; sleep 0.1; done
  CUPSD_PID=""
}
