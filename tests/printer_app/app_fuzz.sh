#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A bounded IPP fuzz against one server (also run under the sanitizers in
# build-sanitize/): a few thousand malformed and odd requests to a printer
# (ipp_fuzz.py: wrong types, sizes and counts for every job attribute the
# printer lists, missing required attributes, random operations, bodies cut
# short, documents of another format, absurd raster headers). The server
# answers throughout and at the end, every job ends, and the sanitizers
# report nothing (checked by app_lib.sh when the server stops).
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK

echo "showpage" | pwg_pages "$W/blank.pwg" 600
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r10 -sPAPERSIZE=a4 -o "$W/page.jpg" - <<< "showpage" > /dev/null
make_box_pdf "$W/box.pdf" 72,650,72,72

devices elm:keep
# Jobs made by Create-Job that get no document end after 5 s.
server_start -o multiple-operation-timeout=5
add_printer elm lumora_elm_e200 elm
result=$(python3 "$APP_SRC/ipp_fuzz.py" "$(printer_uri elm)" "${APP_FUZZ_REQUESTS:-1200}" \
  "${APP_FUZZ_SEED:-24}" "$W/blank.pwg" "$W/page.jpg" "$W/box.pdf")
check "fuzz: $result" grep -q "healthy=yes" <<< "$result"
check "fuzz: no request left without an answer" grep -q "silent=0 " <<< "$result"
printing() { printer_idle elm || true; ! ipptool -tv "$(printer_uri elm)" "$W/idle.test" | grep -q "printer-state (enum) = processing"; }
check "fuzz: every job with a document ends" wait_for 180 printing
check "fuzz: the jobs that got no document end" \
  wait_for 30 log_has "No document within 5 seconds of Create-Job: ended."
check "fuzz: a good job still prints" \
  [ "$(wait_job elm "$(submit elm "$W/box.pdf" application/pdf)" 60)" = completed ]
check "fuzz: server still serving" server_alive
# Jobs their user holds would keep the server from stopping for a minute.
"$APP" cancel -d elm -a > /dev/null 2>&1 || true
