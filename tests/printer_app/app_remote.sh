#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Remote access, in network and mount namespaces of the test's own: the
# loopback interface also carries 192.0.2.1 (a documentation address, so a
# client there is not "local"), and the server's TLS certificate goes to a
# tmpfs over /etc/cups/ssl. A server opened to that address lets remote
# clients print over TLS, and asks them for a user name and password (PAM)
# before any administration; over plain HTTP it sends them to TLS.
if [ "${APP_IN_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ] || [ ! -d /etc/cups/ssl ] || ! unshare -mn true 2>/dev/null; then
    echo "no namespaces or no /etc/cups/ssl here (needs root): skipped"
    echo "0 passed, 0 failed"
    exit 0
  fi
  exec unshare -mn env APP_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
ip addr add 192.0.2.1/32 dev lo
mount -t tmpfs tmpfs /etc/cups/ssl
APP_HOST=192.0.2.1 APP_ADDRESS=192.0.2.1
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK

pwg_pages "$W/sample.pwg" 600 < "$APP_SRC/../e2e/sample_document.ps"
devices office:keep
# TLS on (no "no-tls"), as the installed service runs.
PORT=$(python3 "$HELPERS" free-port)
"$APP" server -o server-port="$PORT" -o listen-hostname=192.0.2.1 \
  -o spool-directory="$W/spool" -o state-file="$W/app.state" -o log-file="$W/app.log" \
  -o log-level=debug -o admin-group=root > "$W/server.out" 2>&1 &
SERVER_PID=$!
wait_for 30 bash -c "exec 3<>/dev/tcp/192.0.2.1/$PORT" || { echo "server did not start" >&2; exit 1; }
add_printer office lumora_elm_e200 office

tls="ipps://192.0.2.1:$PORT/ipp/print/office"
plain="ipp://192.0.2.1:$PORT/ipp/print/office"
printf '%s\n' '{ OPERATION Print-Job' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
  '  ATTR uri printer-uri $uri' '  ATTR name requesting-user-name far' \
  '  ATTR mimeMediaType document-format image/pwg-raster' '  FILE $filename' \
  '  STATUS successful-ok' '}' > "$W/print.test"
printf '%s\n' '{ OPERATION Pause-Printer' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
  '  ATTR uri printer-uri $uri' '  STATUS successful-ok' '}' > "$W/pause.test"

check "not on the machine's loopback address" bash -c "! (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null"
check "a remote client prints over TLS" \
  env HOME="$W" timeout 60 ipptool -q -f "$W/sample.pwg" "$tls" "$W/print.test"
check "its job prints" wait_for 60 log_has "[Job 1] Completed"
check "the printer got it whole" inspect_ok "$W/dev/office-1.prn" "$W/office"
check "administration over plain HTTP is refused" \
  bash -c "! HOME='$W' timeout 30 ipptool -q '$plain' '$W/pause.test' < /dev/null"
check "administration over TLS without credentials is refused" \
  [ "$(python3 "$HELPERS" pause-printer "$tls" "" "")" = 401 ]
check "administration with a wrong password is refused" \
  [ "$(python3 "$HELPERS" pause-printer "$tls" root "not the password")" = 401 ]
check "PAM was asked" log_has 'Administration by "root": Unauthorized.'
code=$(python3 -c 'import sys, urllib.request, urllib.error
try:
    print(urllib.request.urlopen(sys.argv[1], timeout=10).status)
except urllib.error.HTTPError as e:
    print(e.code)
except Exception:
    print("sent to TLS")' "http://192.0.2.1:$PORT/addprinter")
check "the web page to add a printer is refused over plain HTTP ($code)" [ "$code" != 200 ]
check "the printer is not paused" bash -c "! '$APP' status -d office 2>/dev/null | grep -qi stopped"
