#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A private CUPS scheduler for the end-to-end tests and the demo.
#
# Everything lives in one directory RIG: configuration, spool, logs, a private
# ServerBin (the system's filters plus the driver's, the test backend as the
# "usb" and "socket" schemes) and a private DataDir whose model/ directory
# holds the driver's PPDs.  The scheduler listens only on RIG/cups.sock.
#
# Use as a library (source it) or as a command:
#   cupsd_rig.sh start RIG STAGE BACKEND   set up RIG and start cupsd; STAGE is a
#                                          tree made by DESTDIR=STAGE cmake --install,
#                                          BACKEND the built test backend
#   cupsd_rig.sh stop RIG                  stop that cupsd (by its PID)
# After start: export CUPS_SERVER=RIG/cups.sock to use lpadmin, lp, lpstat.
#
# As root the scheduler runs filters and backends as "lp": every installed
# program is a root-owned 0755 copy in a root-owned directory (cupsd refuses
# anything else), and RIG/out, where the test backend writes jobs, belongs to lp.

rig_log() { echo "rig: $*" >&2; }

# rig_write_config DIR DATADIR [MORE]: cups-files.conf and cupsd.conf of a
# private scheduler in DIR (listening only on DIR/cups.sock, allowing
# everything); MORE are further cups-files.conf lines.  With RIG_PORT set
# it also listens on 127.0.0.1:RIG_PORT: the queues' printer-uri then names
# that port, which clients such as lpoptions -l connect to.
rig_write_config() {
  local rig=$1 data=$2 more=${3:-}
  local listen="Listen $rig/cups.sock"
  [ -z "${RIG_PORT:-}" ] || listen+=$'\n'"Listen 127.0.0.1:$RIG_PORT"
  local as_root=""
  if [ "$(id -u)" = 0 ]; then
    as_root=$'User lp\nGroup lp\nSystemGroup root'
  else
    as_root="SystemGroup $(id -gn)"
  fi
  cat > "$rig/cups-files.conf" <<EOF
ServerRoot $rig
ServerBin $rig/serverbin
DataDir $data
RequestRoot $rig/spool
TempDir $rig/spool/tmp
CacheDir $rig/cache
StateDir $rig/state
AccessLog $rig/log/access_log
ErrorLog $rig/log/error_log
PageLog $rig/log/page_log
Printcap $rig/printcap
$as_root
$more
EOF
  cat > "$rig/cupsd.conf" <<EOF
$listen
Browsing Off
BrowseLocalProtocols none
LogLevel debug
MaxLogSize 0
WebInterface No
ErrorPolicy abort-job
PreserveJobHistory Yes
PreserveJobFiles No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
EOF
}

# rig_setup RIG STAGE BACKEND
rig_setup() {
  local rig=$1 stage=$2 backend=$3
  mkdir -p "$rig"
  rig=$(cd "$rig" && pwd)
  chmod 0755 "$rig"
  mkdir -p "$rig"/{spool,spool/tmp,cache,state,log,ppd,out,serverbin/filter,serverbin/backend,serverbin/driver,data/model/lumora}
  chmod 0755 "$rig"/{spool,cache,state,log,ppd,serverbin,serverbin/filter,serverbin/backend,serverbin/driver,data,data/model,data/model/lumora}
  chmod 1777 "$rig/spool/tmp"

  # The scheduler's helper programs and the system's filters (pdftopdf,
  # gstoraster, pdftops, ...).  Never the network-probing backends.
  ln -sfn "$(cups-config --serverbin)/daemon" "$rig/serverbin/daemon"
  local f
  for f in "$(cups-config --serverbin)"/filter/*; do
    ln -sfn "$f" "$rig/serverbin/filter/$(basename "$f")"
  done
  local sysdata
  sysdata=$(cups-config --datadir)
  for f in "$sysdata"/*; do
    [ "$(basename "$f")" = model ] && continue
    ln -sfn "$f" "$rig/data/$(basename "$f")"
  done

  # The driver as `cmake --install` laid it out in STAGE.
  local owner=()
  [ "$(id -u)" = 0 ] && owner=(-o root -g root)
  local found=0 prog
  for prog in rastertoLumora pstoLumora; do
    f=$(find "$stage" -type f -name "$prog" -path '*/filter/*' | head -n 1)
    if [ -n "$f" ]; then
      rm -f "$rig/serverbin/filter/$prog"
      install -m 0755 "${owner[@]}" "$f" "$rig/serverbin/filter/$prog"
      found=1
    fi
  done
  [ "$found" = 1 ] || rig_log "warning: no filter found in $stage"
  local ppds
  ppds=$(find "$stage" -type f -name 'Lumora-*.ppd' | wc -l)
  [ "$ppds" -gt 0 ] || { rig_log "no PPD found in $stage"; return 1; }
  find "$stage" -type f -name 'Lumora-*.ppd' -exec install -m 0644 "${owner[@]}" {} "$rig/data/model/lumora/" \;

  local scheme
  for scheme in usb socket; do
    install -m 0755 "${owner[@]}" "$backend" "$rig/serverbin/backend/$scheme"
  done
  if [ "$(id -u)" = 0 ]; then
    chown lp:lp "$rig/out"
  fi
  chmod 0755 "$rig/out"

  # RIG_EXTRA_CONF: more cups-files.conf lines (SetEnv for the filters).
  rig_write_config "$rig" "$rig/data" $'FileDevice Yes\nSetEnv LUMORA_TEST_BACKEND_DIR '"$rig/out"$'\n'"${RIG_EXTRA_CONF:-}"
  echo "$rig"
}

# rig_start RIG STAGE BACKEND: sets up RIG, starts cupsd, exports CUPS_SERVER.
rig_start() {
  local rig
  rig=$(rig_setup "$1" "$2" "$3") || return 1
  export CUPS_SERVER="$rig/cups.sock"
  setsid cupsd -f -c "$rig/cupsd.conf" -s "$rig/cups-files.conf" \
    > "$rig/log/cupsd.out" 2>&1 < /dev/null &
  echo $! > "$rig/cupsd.pid"
  local i
  for i in $(seq 1 100); do
    if lpstat -r 2>/dev/null | grep -q "is running"; then
      return 0
    fi
    if ! kill -0 "$(cat "$rig/cupsd.pid")" 2>/dev/null; then
      rig_log "cupsd exited at start:"; cat "$rig/log/cupsd.out" "$rig/log/error_log" >&2 2>/dev/null
      return 1
    fi
    sleep 0.1
  done
  rig_log "cupsd did not answer within 10 s"
  return 1
}

# rig_stop RIG: stops the cupsd started by rig_start, by its PID.
rig_stop() {
  local rig=$1 pid
  [ -f "$rig/cupsd.pid" ] || return 0
  pid=$(cat "$rig/cupsd.pid")
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    local i
    for i in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  fi
  rm -f "$rig/cupsd.pid"
}

# rig_add_queue NAME PPD-NAME URI [DEVICE-ID]: a queue with the driver's PPD
# (as lpinfo -m lists it) and, optionally, the device id its backend reports.
rig_add_queue() {
  local name=$1 model=$2 uri=$3 devid=${4:-}
  local rig=${CUPS_SERVER%/cups.sock}
  if [ -n "$devid" ]; then
    printf '%s' "$devid" > "$rig/out/$name.deviceid"
    chmod 0644 "$rig/out/$name.deviceid"
  fi
  # A failed job is aborted rather than stopping the queue.
  lpadmin -p "$name" -m "$model" -v "$uri" -o printer-error-policy=abort-job -E
}

# rig_wait_jobs [SECONDS]: waits until no job is pending or processing.
rig_wait_jobs() {
  local limit=${1:-120} i
  for i in $(seq 1 $((limit * 10))); do
    if [ -z "$(lpstat -W not-completed -o 2>/dev/null)" ]; then
      return 0
    fi
    sleep 0.1
  done
  rig_log "jobs still not completed after $limit s:"; lpstat -W not-completed -o >&2
  return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    start) rig_start "$2" "$3" "$4"; echo "export CUPS_SERVER=$CUPS_SERVER" ;;
    stop) rig_stop "$2" ;;
    *) echo "usage: $0 start RIG STAGE BACKEND | stop RIG" >&2; exit 2 ;;
  esac
fi
