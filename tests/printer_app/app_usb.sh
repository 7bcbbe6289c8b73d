#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The PostScript printers of the application on USB, emulated by umockdev
# (usb_ps_rig.py): `autoadd` gives each connected printer the driver of its
# device id; a maple job reaches the printer over PAPPL's USB device while
# the status thread asks the printer over USB, and the printer's "cancelled"
# reply cancels the IPP job; a printer reporting another model's id is
# refused and gets no byte.
source "$(dirname "$0")/app_lib.sh"
if ! /usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2> /dev/null; then
  echo "SKIP: umockdev's Python binding is missing"
  exit 77
fi
app_begin
W=$APP_WORK
RIG="$APP_SRC/usb_ps_rig.py"
export LUMORA_STATUS_POLL_MS=100
cat > "$W/usb.json" <<EOF
[{"devnum": 4, "serial": "MP21", "id": "MFG:Lumora;CMD:PJL,PS;MDL:MP2100 series;CLS:PRINTER;DES:Lumora MP2100;",
  "replies": ["03", "03", "03", "06"]},
 {"devnum": 3, "serial": "LP51", "id": "MFG:Lumora;CMD:PJL,PS;MDL:LP5100 series;CLS:PRINTER;DES:Lumora LP5100;"},
 {"devnum": 2, "serial": "XX9", "id": "MFG:Lumora;CMD:PJL,PS;MDL:Cedar C999 Series;CLS:PRINTER;"}]
EOF
mkdir -p "$W/usb-app" "$W/usb-cli"
# The server, and the command line, each with the same printers attached.
PORT=$(python3 "$HELPERS" free-port)
/usr/bin/python3 "$RIG" "$W/usb.json" "$W/usb-app" -- "$APP" server -o server-port="$PORT" \
  -o spool-directory="$W/spool" -o state-file="$W/app.state" -o log-file="$W/app.log" \
  -o log-level=debug -o server-options=no-tls >> "$W/server.out" 2>&1 &
SERVER_PID=$!
wait_for 30 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" || { echo "server did not start" >&2; exit 1; }
check "autoadd: ran" /usr/bin/python3 "$RIG" "$W/usb.json" "$W/usb-cli" -- "$APP" autoadd
printers=$("$APP" printers | sort | tr '\n' ' ')
check "autoadd: the two Lumora PostScript printers added ($printers)" \
  bash -c "[ \$(wc -w <<< '$printers') = 2 ]"
maple=$("$APP" printers | grep -i mp2100 | head -n 1)
check "autoadd: MP2100 with lumora_mp2100" \
  bash -c "'$APP' options -d '$maple' >/dev/null && grep -a -q 'driver.*lumora_mp2100\|lumora_mp2100' '$W/app.log'"
