#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The PPDs' translations as an administrator meets them: the scheduler's own
# web interface (which localizes a queue's PPD by the browser's language)
# shows every option and choice of a raster and a PostScript queue in
# Simplified and Traditional Chinese, and in English for an English browser.
source "$(dirname "$0")/e2e_lib.sh"
RIG_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export RIG_PORT
e2e_start
# The scheduler's web interface: its CGI programs in the private ServerBin,
# switched on by reloading the configuration.
ln -s "$(cups-config --serverbin)/cgi-bin" "$RIG/serverbin/cgi-bin"
sed -i 's/^WebInterface No/WebInterface Yes/' "$RIG/cupsd.conf"
kill -HUP "$(cat "$RIG/cupsd.pid")"
sleep 1
for _ in $(seq 1 100); do
  lpstat -r 2>/dev/null | grep -q "is running" && break
  sleep 0.1
done
rig_add_queue cedar lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/C300?serial=3"
rig_add_queue maple lumora/Lumora-LP5100-Series-PS.ppd "socket://127.0.0.1:9100"

# options_page QUEUE LANGUAGE: the text of the queue's "Set Default Options"
# page as a browser asking for LANGUAGE gets it (the form posts a session
# cookie back, as the browser would).
options_page() {
  curl -s -H "Accept-Language: $2" -b "org.cups.sid=0123456789abcdef" \
    --data "org.cups.sid=0123456789abcdef&OP=set-printer-options&PRINTER_NAME=$1" \
    "http://127.0.0.1:$RIG_PORT/admin/" | sed 's/<[^>]*>/\n/g'
}

# queue | browser language | texts the page shows (;-separated) | texts it
# must not show (;-separated)
cases=(
  "cedar|zh-CN|省墨模式;精细模式;负片打印;打印浓度;最浅;双面打印;长边翻页（纵向）;纸张来源;手动进纸;16 开;ISO B5;自定义|Toner Save;Fine Mode;Long-Edge;Manual Feed;Lightest"
  "cedar|zh-TW|省碳粉模式;精細模式;列印濃度;雙面列印;紙張來源;16 開|Toner Save;打印"
  "cedar|en|Toner Save;Fine Mode;Negative Print;Lightest;Manual Feed;16K|省墨"
  "maple|zh-CN|双面打印;逐份打印;A5 纸进纸边;短边先进纸;大 16 开|Collate Copies;Short Edge First"
)
for c in "${cases[@]}"; do
  IFS='|' read -r queue lang want unwanted <<< "$c"
  page=$(options_page "$queue" "$lang")
  missing="" present=""
  IFS=';' read -r -a words <<< "$want"
  for w in "${words[@]}"; do
    grep -q -F -- "$w" <<< "$page" || missing+=" '$w'"
  done
  IFS=';' read -r -a words <<< "$unwanted"
  for w in "${words[@]}"; do
    if grep -q -F -- "$w" <<< "$page"; then present+=" '$w'"; fi
  done
  check "$queue in $lang shows its names${missing:+ (missing:$missing)}" [ -z "$missing" ]
  check "$queue in $lang shows no other language${present:+ (shown:$present)}" [ -z "$present" ]
done
