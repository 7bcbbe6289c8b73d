#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The printer application as its users meet it, in network and mount
# namespaces of the test's own (root): the printers' SNMP agent on
# 127.0.0.1:161 (snmpd serving a Printer MIB supply table), test accounts
# for the web forms.
# - Every raster model prints a job naming A4 by media, and one by a
#   media-col of the size only, from its automatic source (InputSlot=Auto);
#   manual feed only when the job asks for it.
# - A manual-duplex job: its prompt is the job's and the printer's state
#   message and on the printer's page while the printer waits, again after
#   a restart of the server, until the next job.
# - Supply levels come from the printer's agent; a printer that reports
#   none shows them as unknown.
# - A browser (headless Chromium; forms posted as it posts them, with the
#   administrator's password and the page's session token) adds a printer
#   with host:port, saves defaults and media (the automatic source and the
#   manual-feed slot stay), prints the test page; the pages it shows have
#   human names only (screenshots in APP_WORK/shots).
if [ "${APP_IN_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ] || ! unshare -mn true 2>/dev/null; then
    echo "no namespaces here (needs root): skipped"
    echo "0 passed, 0 failed"
    exit 0
  fi
  exec unshare -mn env APP_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK
CHROMIUM=$(command -v chromium || command -v chromium-browser || true)
[ -n "$CHROMIUM" ] || { echo "chromium is not installed (scripts/install-deps.sh)" >&2; exit 1; }
make_accounts

mkdir -p "$W/snmp/persist" "$W/out" "$W/shots"
printf '%s\n' "agentAddress udp:127.0.0.1:161" "rocommunity public 127.0.0.1" \
  "pass_persist .1.3.6.1.2.1.43 /usr/bin/python3 $HELPERS supply-agent" > "$W/snmp/snmpd.conf"
SNMP_PERSISTENT_DIR="$W/snmp/persist" snmpd -f -C -c "$W/snmp/snmpd.conf" -Lf "$W/snmp/snmpd.log" &
EXTRA_PIDS=$!
echo showpage | pwg_pages "$W/a4.pwg" 600
pwg_pages "$W/duplex.pwg" 600 true < "$APP_SRC/../e2e/sample_document.ps"
touch "$W/out/filed.prn"
devices sink:keep mdev:keep web:keep
server_start -o admin-group=lpa-admins -o file-device-directory="$W/out"
restart() { server_stop; server_start -o admin-group=lpa-admins -o file-device-directory="$W/out"; }

# A4 by media and by a media-col of the size only, on every raster model.
a4_col='collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700 } }'
mapfile -t raster < <("$APP" drivers | awk '{print $1}' | grep -v -E '^lumora_(mp|lp|op)[0-9]')
i=0
for driver in "${raster[@]}"; do
  i=$((i + 1))
  add_printer "t$i" "$driver" sink
  submit "t$i" "$W/a4.pwg" image/pwg-raster "keyword media iso_a4_210x297mm" > /dev/null
  submit "t$i" "$W/a4.pwg" image/pwg-raster "$a4_col" > /dev/null
done
submit t1 "$W/a4.pwg" image/pwg-raster \
  'collection media-col { MEMBER keyword media-source manual MEMBER collection media-size { MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700 } }' > /dev/null
all_printed() { [ "$(server_log | grep -a -c "\] Job options (t[0-9]*): ")" -ge $((i * 2 + 1)) ]; }
check "the ${#raster[@]} raster models printed" wait_for 300 all_printed
server_log > "$W/tray.log"
slot() { sed -n "s/.*\[Job $2\] Job options ($1): .*InputSlot=\([A-Za-z]*\).*/\1/p" "$W/tray.log"; }
manual=""
for n in $(seq 1 "$i"); do
  for id in 1 2; do
    [ "$(slot "t$n" "$id")" = Auto ] || manual+=" ${raster[n - 1]}/$id:$(slot "t$n" "$id")"
  done
done
check "A4 by media and by media-col goes to the automatic source on every model${manual:+ (not:$manual)}" \
  test -z "$manual"
check "manual feed when the job asks for it ($(slot t1 3))" [ "$(slot t1 3)" = ManualFeed ]

# The manual-duplex wait.
prompt="Turn the printed stack over and put it back in the tray to print the back sides"
add_printer md lumora_cedar_c200 mdev
id=$(submit md "$W/duplex.pwg" image/pwg-raster "keyword sides two-sided-long-edge")
check "manual-duplex job $id completed" [ "$(wait_job md "$id" 120)" = completed ]
waiting() {  # waiting WHEN: the wait shows in every place
  check "$1: the job's message is the prompt ($(job_message md "$id"))" [ "$(job_message md "$id")" = "$prompt" ]
  check "$1: printer-state-message is the prompt" [ "$(printer_attr md printer-state-message)" = "$prompt" ]
  check "$1: printer-state-reasons media-needed" bash -c "grep -q media-needed <<< '$(printer_reasons md)'"
  curl -s "http://127.0.0.1:$PORT/md/" > "$W/md-page.html"
  check "$1: the printer's page shows the prompt, once" \
    bash -c "grep -q -F '$prompt.' '$W/md-page.html' && ! grep -q 'Load paper' '$W/md-page.html'"
}
waiting "while it waits"
# Supplies: reported by the printer's agent at the start of its job.
check "supply level from the printer (SNMP): $(printer_attr md printer-supply)" \
  bash -c "grep -q 'level=73;' <<< '$(printer_attr md printer-supply)'"
check "supply name from the printer" \
  bash -c "grep -q 'Black Toner Cartridge LT-100' <<< '$(printer_attr md printer-supply-description)'"
restart
waiting "after a restart"
browse en "http://127.0.0.1:$PORT/md/" "$W/shots/waiting"
found=$(python3 "$APP_SRC/page_words.py" en "md;Lumora Cedar C200 Series;Lumora Printers" \
  "$prompt.;Two-sided printing (turn the stack by hand)" "$W/shots/waiting.html" || true)
check "the waiting printer's page in a browser${found:+ ($(tr '\n' ' ' <<< "$found"))}" test -z "$found"
id2=$(submit md "$W/a4.pwg" image/pwg-raster)
check "the next job ($id2) completed" [ "$(wait_job md "$id2" 120)" = completed ]
check "then the printer no longer waits" [ "$(printer_attr md printer-state-message)" = "Idle." ]

# A printer that reports no supplies (a file device): unknown, never empty.
"$APP" add -d filed -m lumora_elm_e200 -v "file://$W/out/filed.prn"
fid=$(submit filed "$W/a4.pwg" image/pwg-raster)
check "file device job completed" [ "$(wait_job filed "$fid" 120)" = completed ]
check "its toner level is unknown ($(printer_attr filed printer-supply))" \
  bash -c "grep -q 'level=-2;' <<< '$(printer_attr filed printer-supply)'"

# The browser: forms as Chromium posts them, then the pages as it shows them.
admin() { python3 "$HELPERS" form "http://127.0.0.1:$PORT$1" lpa-admin admin-secret "${@:2}"; }
webdev="127.0.0.1:$(cat "$W/dev/web.port")"
added=$(admin /addprinter printer_name=office device_uri=socket hostname="$webdev" driver_name=lumora_cedar_c200)
check "Add Printer with host:port ($added)" [ "${added%% *}" = 302 ]
check "the printer is added" bash -c "'$APP' printers | grep -qx office"
bad=$(admin /addprinter printer_name=office2 device_uri=socket hostname="127.0.0.1:x" driver_name=lumora_cedar_c200)
check "a bad port is refused with a message ($bad)" test "${bad#*its port}" != "$bad"
saved=$(admin /office/printing media-source=tray-1 orientation-requested=3 sides=two-sided-long-edge \
  print-quality=normal print-darkness=75 print-content-optimize=auto print-scaling=auto \
  printer-resolution=600dpi toner-save=on)
check "printing defaults saved ($saved)" [ "${saved%% *}" = 200 ]
check "sides-default saved" [ "$(printer_attr office sides-default)" = two-sided-long-edge ]
check "toner-save-default saved" [ "$(printer_attr office toner-save-default)" = true ]
check "the default source stays automatic" \
  bash -c "grep -q 'media-source=auto' <<< '$(printer_attr office media-col-default)'"
media=$(admin /office/media ready1-size=na_letter_8.5x11in ready1-type=stationery)
check "media saved ($media)" [ "${media%% *}" = 200 ]
ready=$(printer_attr office media-col-ready)
check "the tray holds Letter, the manual slot keeps its entry" \
  bash -c "grep -q 'media-source=tray-1' <<< '$ready' && grep -q 'media-source=manual' <<< '$ready' && grep -q 'na_letter' <<< '$ready'"
check "the default source still automatic" \
  bash -c "grep -q 'media-source=auto' <<< '$(printer_attr office media-col-default)'"
before=$( (ls "$W"/dev/web-*.prn 2>/dev/null || true) | wc -l)
test_page=$(admin /office action=print-test-page)
check "Print Test Page ($test_page)" bash -c "grep -q 'Test page printed' <<< '$test_page'"
check "the test page reached the printer" wait_for 120 test -s "$W/dev/web-$((before + 1)).prn"
check "the test page job completed" [ "$(wait_job office 1 120)" = completed ]
wait_for 60 bash -c "[ \"\$(ls '$W/spool' | grep -c test-page)\" = 0 ]"
check "no test page file left in the spool" bash -c "! ls '$W/spool' | grep -q test-page"
sleep 1
check "the test page stream reads back, two-sided by hand as the defaults say" \
  bash -c "'$APP_INSPECT' --pbm '$W/tp' '$W/dev/web-$((before + 1)).prn' > '$W/tp.summary.txt' 2>&1 && grep -q '^Manual duplex command' '$W/tp.summary.txt' && grep -q '^density: 0' <(sed 's/^ *@[0-9]* *//' '$W/tp.summary.txt')"
check "Identify Printer is not offered" bash -c "! grep -q 'value=\"identify-printer' '$W/shots/waiting.html'"

# page | path | texts the page must show
pages=(
  "home|/|Printers;md;office"
  "defaults|/office/printing|Toner Save (prints at the lightest darkness);Two-sided printing (turn the stack by hand);Automatic"
  "media|/office/media|US Letter;Tray;Save Changes"
  "supplies|/md/supplies|Black Toner Cartridge LT-100;73%"
  "unknown|/filed/supplies|Black Toner;The printer does not report this level"
  "two-sided|/office/two-sided|turn it over and put it back in the tray"
)
names="md;office;filed;Lumora Cedar C200 Series;Lumora Elm E200 Series;Lumora Printers"
for p in "${pages[@]}"; do
  IFS='|' read -r page path want <<< "$p"
  browse en "http://127.0.0.1:$PORT$path" "$W/shots/$page"
  found=$(python3 "$APP_SRC/page_words.py" en "$names" "$want" "$W/shots/$page.html" || true)
  check "$page page: human names only${found:+ ($(tr '\n' ' ' <<< "$found"))}" \
    test -z "$found" -a -s "$W/shots/$page.png"
done
curl -s -u lpa-admin:admin-secret "http://127.0.0.1:$PORT/addprinter" > "$W/shots/add.html"
check "the Add Printer page lists the models by family, marks manual duplex and 1200 dpi" \
  bash -c "grep -q '<optgroup label=\"Cedar\">' '$W/shots/add.html' && grep -q 'manual duplex' '$W/shots/add.html' && grep -q '1200 DPI' '$W/shots/add.html'"
check "server still serving" server_alive
