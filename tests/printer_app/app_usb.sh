#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The PostScript printers of the application on USB, emulated by umockdev
# (usb_ps_rig.py): `autoadd` gives each connected printer the driver of its
# device id; a job reaches the printer over PAPPL's USB device; a printer
# reporting another model's id is refused and gets no byte. (The status
# thread's own open of a printer PAPPL holds is not run here: the emulator
# serves one opener of a device at a time. tests/sidechannel runs that
# thread against the emulated printer.)
source "$(dirname "$0")/app_lib.sh"
if ! /usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2> /dev/null; then
  echo "SKIP: umockdev's Python binding is missing"
  exit 77
fi
app_begin
W=$APP_WORK
RIG="$APP_SRC/usb_ps_rig.py"
cat > "$W/usb.json" <<EOF
[{"devnum": 4, "serial": "MP21", "id": "MFG:Lumora;CMD:PJL,PS;MDL:MP2100 series;CLS:PRINTER;DES:Lumora MP2100;"},
 {"devnum": 3, "serial": "LP51", "id": "MFG:Lumora;CMD:PJL,PS;MDL:LP5100 series;CLS:PRINTER;DES:Lumora LP5100;"},
 {"devnum": 5, "serial": "OP31", "id": "MFG:Lumora;CMD:PJL,PS;MDL:OP3100 series;CLS:PRINTER;DES:Lumora OP3100;"},
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
printers=$("$APP" printers | sort | tr '\n' '|')
check "autoadd: the three PostScript printers, none for an unknown model ($printers)" \
  [ "$printers" = "Lumora LP5100 series (USB)|Lumora MP2100 series (USB)|Lumora OP3100 series (USB)|" ]
maple="Lumora_MP2100_series_(USB)"
larch="Lumora_LP5100_series_(USB)"
model() {
  printf '%s\n' '{ OPERATION Get-Printer-Attributes' '  GROUP operation-attributes-tag' \
    '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
    '  ATTR uri printer-uri $uri' '  ATTR keyword requested-attributes printer-make-and-model' \
    '  STATUS successful-ok' '}' > "$W/model.test"
  ipptool -tv "$(printer_uri "$1")" "$W/model.test" | sed -n 's/.*printer-make-and-model (textWithoutLanguage) = //p'
}
check "autoadd: MP2100 with its PostScript driver" [ "$(model "$maple")" = "Lumora MP2100 Series PS" ]
check "autoadd: LP5100 with its PostScript driver" [ "$(model "$larch")" = "Lumora LP5100 Series PS" ]

# A job of the other family over PAPPL's USB device.
make_box_pdf "$W/doc.pdf" 72,650,72,72 300,100,150,150
id=$(submit "Lumora_OP3100_series_(USB)" "$W/doc.pdf" application/pdf)
check "plain over USB: job $id $(wait_job "Lumora_OP3100_series_(USB)" "$id" 60)" \
  grep -a -q -F '@PJL ENTER LANGUAGE=POSTSCRIPT' "$W/usb-app/usb-5.prn"

# The support check on the USB printer's own id: a driver chosen for a
# printer of another model is refused, and nothing is sent.
"$APP" add -d wrong -m lumora_op3100 -v "usb://Lumora/Cedar%20C999%20Series?serial=XX9"
id=$(submit wrong "$W/doc.pdf" application/pdf)
check "wrong model over USB: job $id aborted" [ "$(wait_job wrong "$id" 60)" = aborted ]
check "wrong model over USB: the filter's message" \
  [ "$(job_message wrong "$id")" = "当前打印机不可打印，请使用正确的打印机" ]
check "wrong model over USB: no byte sent" [ ! -s "$W/usb-app/usb-2.prn" ]
