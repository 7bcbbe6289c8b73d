#!/usr/bin/env bash
# A private cupsd that reaches IPP printers (here: the printer application on
# loopback) through the system's ipp backend: its configuration, spool and
# logs in one directory, listening only on a local socket.
#   cups_start DIR      sets it up, starts it, exports CUPS_SERVER
#   cups_wait_idle SECONDS
#   cups_stop

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
  local as_root=""
  [ "$(id -u)" = 0 ] && as_root=$'User lp\nGroup lp\nSystemGroup root'
  cat > "$dir/cups-files.conf" <<EOF
ServerRoot $dir
ServerBin $dir/serverbin
DataDir $(cups-config --datadir)
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
$as_root
EOF
  cat > "$dir/cupsd.conf" <<EOF
Listen $dir/cups.sock
Browsing Off
BrowseLocalProtocols none
LogLevel debug
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
EOF
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
