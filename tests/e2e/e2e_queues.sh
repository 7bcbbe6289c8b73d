#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A freshly installed driver: lpinfo -m lists every model, a printer's
# IEEE-1284 device id finds its model, and lpadmin makes working queues.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
expected=$(find "$E2E_STAGE" -name 'Lumora-*.ppd' | wc -l)

lpinfo -m > "$E2E_WORK/models.txt"
listed=$(grep -c '^lumora/Lumora-' "$E2E_WORK/models.txt" || true)
check "lpinfo -m lists all $expected models (found $listed)" [ "$listed" -eq "$expected" ]
missing=0
while read -r ppd; do
  nick=$(sed -n 's/^\*NickName: "\(.*\)"/\1/p' "$ppd")
  grep -q -x -F "lumora/$(basename "$ppd") $nick" "$E2E_WORK/models.txt" || { echo "not listed: $nick" >&2; missing=1; }
done < <(find "$E2E_STAGE" -name 'Lumora-*.ppd')
check "every PPD is listed with its nickname" [ "$missing" -eq 0 ]

# Every model's device id, as its PPD states it, finds that PPD first.
find_own_ppd() {
  local ppd=$1 id first
  id=$(sed -n 's/^\*1284DeviceID: "\(.*\)"/\1/p' "$ppd")
  first=$(lpinfo --device-id "$id" -m | head -n 1 | cut -d' ' -f1)
  [ "$first" = "lumora/$(basename "$ppd")" ] || echo "$id finds $first"
}
export -f find_own_ppd
wrong=$(find "$E2E_STAGE" -name 'Lumora-*.ppd' -print0 | xargs -0 -P 8 -I{} bash -c 'find_own_ppd "{}"')
[ -z "$wrong" ] || echo "$wrong" >&2
check "every model's device id finds its own PPD" [ -z "$wrong" ]

# Device ids as the printers report them.
by_id() { lpinfo --device-id "$1" -m | grep '^lumora/' | head -n 1 | cut -d' ' -f1; }
check "device id of an Elm E200 finds its PPD" \
  [ "$(by_id 'MFG:Lumora;CMD:PJL,LUMORA;MDL:Elm E200 Series;CLS:PRINTER;')" = lumora/Lumora-Elm-E200-Series.ppd ]
check "device id of an MP2100 finds its PPD" \
  [ "$(by_id 'MFG:Lumora;CMD:PJL,PS;MDL:MP2100 series;CLS:PRINTER;')" = lumora/Lumora-MP2100-Series-PS.ppd ]

rig_add_queue office lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/Printer?serial=C300"
rig_add_queue ps lumora/Lumora-OP3100-Series-PS.ppd "socket://127.0.0.1:9100"
check "queues accept jobs" bash -c 'lpstat -a office | grep -q accepting && lpstat -a ps | grep -q accepting'
check "the queue has the model's PPD" grep -q '^\*ModelName: "Lumora Cedar C300 Series"' "$RIG/ppd/office.ppd"
check "the queue has the PostScript model's PPD" grep -q '^\*ShortNickName: "Lumora OP3100 Series PS"' "$RIG/ppd/ps.ppd"
lpadmin -p office -o Density=4
check "lpadmin sets a PPD default" grep -q '^\*DefaultDensity: 4' "$RIG/ppd/office.ppd"

# The Cedar/Birch filter takes the queue's density default into the job.
make_box_pdf "$E2E_WORK/box.pdf" 72,650,72,72
id=$(lp -d office "$E2E_WORK/box.pdf" | job_id)
state=$(wait_job "$id" 60)
check "a job on the new queue completes ($state)" [ "$state" = completed ]
inspect_stream "$OUT/office-$id.prn" "$E2E_WORK/office" || fail "stream has faults"
check "the queue's density default reaches the printer" grep -q 'density: 4' "$E2E_WORK/office.summary.txt"
