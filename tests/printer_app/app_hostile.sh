#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Hostile jobs and failing printers against one server (also run under the
# sanitizers in build-sanitize/): raster that is not what the driver
# announced, absurd page sizes, documents of no known format, a PDF that is
# not one, a printer that goes away in the middle of a job, a job cancelled
# while its page goes out. Each job ends with its reason, the printer keeps
# a whole stream, and the server keeps serving.
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK

sample="$APP_SRC/../e2e/sample_document.ps"
pwg_pages "$W/sample.pwg" 600 < "$sample"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=3 -dcupsBitsPerColor=1 \
  -r600 -sPAPERSIZE=a4 -dFIXEDMEDIA -sOutputFile="$W/onebit.pwg" "$sample" > /dev/null
python3 "$HELPERS" absurd-pwg "$W/absurd.pwg"
python3 "$HELPERS" absurd-pwg "$W/colorspace.pwg" 1000
head -c 20000 /dev/urandom > "$W/noise.bin"
{ echo "%PDF-1.4"; head -c 20000 /dev/urandom; } > "$W/broken.pdf"

devices cedar:keep gone:gone-60000 slow:keep
server_start
add_printer cedar lumora_cedar_c300 cedar
add_printer gone lumora_elm_e200 gone
add_printer slow lumora_cedar_c300 slow

# refused NAME FILE FORMAT MESSAGE: the job is aborted with the message and
# the printer receives nothing.
refused() {
  local name=$1 file=$2 format=$3 message=$4 id state
  id=$(submit cedar "$file" "$format") || { fail "$name: not submitted"; return; }
  state=$(wait_job cedar "$id" 60)
  check "$name: job $id $state" [ "$state" = aborted ]
  check "$name: reason given" log_has "$message"
  check "$name: server still serving" server_alive
}
refused "1-bit raster announced as 8-bit" "$W/onebit.pwg" image/pwg-raster \
  "the raster sent is not the 8-bit gray that was announced"
refused "absurd page size" "$W/absurd.pwg" image/pwg-raster "does not fit a 595x842 point page"
refused "colour space out of range" "$W/colorspace.pwg" image/pwg-raster "colour space 1000 where"
refused "unknown format" "$W/noise.bin" application/octet-stream \
  "Unable to process job with format 'application/octet-stream'"
refused "broken PDF" "$W/broken.pdf" application/pdf "could not render the PDF"
check "nothing reached the printer" bash -c "! cat '$W'/dev/cedar-*.prn 2>/dev/null | grep -q ."

# The printer goes away after 60000 bytes.
id=$(submit gone "$W/sample.pwg" image/pwg-raster)
check "printer gone: job $id aborted" [ "$(wait_job gone "$id" 60)" = aborted ]
check "printer gone: the job says why" [ "$(job_message gone "$id")" = "The printer stopped taking the job's data." ]
reasons=$(printer_reasons gone)
check "printer gone: printer offline ($reasons)" grep -q offline <<< "$reasons"
check "printer gone: server still serving" server_alive

# A cancel in the middle of a page: the client stops half way through the
# raster, the job is cancelled, the rest arrives; the job ends its page and
# the stream.
python3 "$HELPERS" stalled-print "$(printer_uri slow)" "$W/sample.pwg" 0.5 "$W/slow.go" \
  > "$W/slow.status" &
submitter=$!
check "cancel: the job is printing" wait_for 30 job_is slow 1 processing
# (The job asks the printer for its supplies first: its page has begun
# once the printer has bytes of it.)
check "cancel: its page reaches the printer" wait_for 30 test -s "$W/dev/slow-1.prn"
printf '%s\n' '{ OPERATION Cancel-Job' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
  '  ATTR uri printer-uri $uri' '  ATTR integer job-id $job_id' \
  '  ATTR name requesting-user-name tester' '  STATUS successful-ok' '}' > "$W/cancel.test"
check "cancel: accepted" ipptool -q -d job_id=1 "$(printer_uri slow)" "$W/cancel.test"
touch "$W/slow.go"
check "cancel: job canceled" [ "$(wait_job slow 1 60)" = canceled ]
wait "$submitter" || true
check "cancel: the printer got a whole stream" inspect_ok "$W/dev/slow-1.prn" "$W/slow"
check "cancel: the job ended early ($(pages_in "$W/slow") pages)" [ "$(pages_in "$W/slow")" -lt 3 ]

# After all of it a good job prints.
id=$(submit cedar "$W/sample.pwg" image/pwg-raster)
check "good job after the hostile ones: $id completed" [ "$(wait_job cedar "$id" 60)" = completed ]
check "good job: stream whole" inspect_ok "$(ls "$W"/dev/cedar-*.prn | tail -n 1)" "$W/good"
check "server still serving" server_alive
