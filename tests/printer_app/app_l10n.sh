#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The printer application in Simplified Chinese and English, as its users
# meet it: a server running in Chinese (LANG=zh_CN.UTF-8) gives a manual-
# duplex job its prompt in Chinese; a real browser (headless Chromium)
# asking for zh-CN or en gets the home, printer, media, printing-defaults
# and jobs pages with human names only (screenshots kept in APP_WORK/shots);
# an IPP client asking in zh-cn gets a printer-strings-uri naming every
# vendor option and value in Chinese.  (A driverless queue of CUPS 2.4
# cannot take the names: cupsd asks for "all,media-col-database", whose
# list of names lacks printer-strings-uri, and its PPD has no vendor
# options; README, Printer application, Languages.)
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK
CHROMIUM=$(command -v chromium || command -v chromium-browser || true)
[ -n "$CHROMIUM" ] || { echo "chromium is not installed (scripts/install-deps.sh)" >&2; exit 1; }

pwg_pages "$W/sample.pwg" 600 true < "$APP_SRC/../e2e/sample_document.ps"
devices cedarm:keep
LANG=zh_CN.UTF-8 server_start
check "printer added" add_printer cedarm lumora_cedar_c200 cedarm
# The prompt reaches IPP clients as the text of the printer's state event
# (the job's state message holds it until the job's next message).
zh_prompt='请将已打印的纸叠翻面后放回纸盒，以打印背面'
ipp_op() {  # ipp_op NAME LINE...: a request of the operation with these lines
  printf '%s\n' "{ OPERATION $1" '  GROUP operation-attributes-tag' \
    '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language zh-cn' \
    '  ATTR uri printer-uri $uri' '  ATTR name requesting-user-name tester' "${@:2}" '  STATUS successful-ok' '}'
}
ipp_op Create-Printer-Subscriptions '  GROUP subscription-attributes-tag' \
  '  ATTR keyword notify-pull-method ippget' '  ATTR keyword notify-events printer-state-changed' \
  '  DISPLAY notify-subscription-id' > "$W/subscribe.test"
sub=$(ipptool -tv "$(printer_uri cedarm)" "$W/subscribe.test" | sed -n 's/.*notify-subscription-id (integer) = //p' | head -n 1)
id=$(submit cedarm "$W/sample.pwg" image/pwg-raster "keyword sides two-sided-long-edge")
state=$(wait_job cedarm "$id" 120)
check "manual-duplex job $id $state" [ "$state" = completed ]
ipp_op Get-Notifications "  ATTR integer notify-subscription-ids ${sub:-0}" \
  '  ATTR boolean notify-wait false' '  DISPLAY notify-text' > "$W/notifications.test"
check "the prompt reached the subscriber in Chinese" \
  bash -c "ipptool -tv '$(printer_uri cedarm)' '$W/notifications.test' | grep -q -F '$zh_prompt'"
check "the log keeps the PPD's prompt" log_has "[Printer cedarm] Turn the printed stack over"

# page | path | texts the English page shows | texts the Chinese page shows
pages=(
  "home|/|Printers;Configuration|打印机;配置;空闲"
  "printer|/cedarm/|Status;Idle;Jobs|状态;空闲;作业"
  "media|/cedarm/media|A4;Save Changes|A4;保存更改"
  "defaults|/cedarm/printing|Toner Save;Fine Mode;Negative Print;Rotate Pages 180 Degrees;Feed A5 Long Edge First;Media:|省墨模式;精细模式;负片打印;页面旋转 180 度;A5 纸长边进纸;纸张:;双面打印"
  "jobs|/cedarm/jobs|Completed at|完成"
)
names="cedarm;Lumora Cedar C200 Series;Lumora Printers;Lumora sample;tester"
mkdir -p "$W/shots"
for p in "${pages[@]}"; do
  IFS='|' read -r page path en zh <<< "$p"
  for lang in en zh-CN; do
    base="$W/shots/$page-$lang"
    browse "$lang" "http://localhost:$PORT$path" "$base"
    want=$en
    [ "$lang" = en ] || want=$zh
    found=$(python3 "$APP_SRC/page_words.py" "$lang" "$names" "$want" "$base.html" || true)
    check "$page page in $lang: human names only${found:+ ($(tr '\n' ' ' <<< "$found"))}" \
      test -z "$found" -a -s "$base.png"
  done
done

# printer-strings-uri for a client asking in Chinese: every vendor option
# and value has a Chinese name.
printf '%s\n' '{ OPERATION Get-Printer-Attributes' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language zh-cn' \
  '  ATTR uri printer-uri $uri' '  ATTR keyword requested-attributes all' \
  '  STATUS successful-ok' '  EXPECT printer-strings-uri OF-TYPE uri COUNT 1' \
  '  EXPECT printer-strings-languages-supported OF-TYPE naturalLanguage COUNT 1' '}' > "$W/strings.test"
ipptool -tv "$(printer_uri cedarm)" "$W/strings.test" > "$W/strings.out" 2>&1
check "printer-strings-uri offered once" grep -q "PASS" "$W/strings.out"
uri=$(sed -n 's/.*printer-strings-uri (uri) = //p' "$W/strings.out" | head -n 1)
python3 -c 'import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())' \
  "$uri" > "$W/zh-cn.strings" 2> /dev/null || true
missing=""
for key in toner-save fine-mode negative-print rotate-180 a5-long-edge-feed; do
  for k in "$key" "$key.true" "$key.false"; do
    grep -q -P "^\"\Q$k\E\" = \"[^\"]*[^\x00-\x7f][^\"]*\";" "$W/zh-cn.strings" || missing+=" $k"
  done
done
check "the strings file ($uri) names every vendor option and value in Chinese${missing:+ (not:$missing)}" \
  test -s "$W/zh-cn.strings" -a -z "$missing"
