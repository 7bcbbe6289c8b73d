#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# CUPS's IPP conformance files that apply to a printer (ipp-2.2.test, which
# includes ipp-2.1, ipp-2.0 and ipp-1.1, with PWG raster, JPEG and PDF
# documents, and ipp-everywhere.test with PWG raster) against a raster
# printer, in the sanitizer build: no server fault, and every test that
# fails is one docs/printer-app.md names with its reason.
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK

sample="$APP_SRC/../e2e/sample_document.ps"
pwg_pages "$W/sample.pwg" 600 < "$sample"
gs -q -dSAFER -dBATCH -dNOPAUSE -dLastPage=1 -sDEVICE=jpeggray -r40 -sPAPERSIZE=a4 \
  -o "$W/page.jpg" "$sample"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$W/sample.pdf" "$sample"
devices elm:keep
server_start
add_printer elm lumora_elm_e200 elm

# The tests that fail for a reason of PAPPL 1.3 (docs/printer-app.md).
known="$W/known.txt"
printf '%s\n' "PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes" \
  "PWG 5100.12 section 6.3 - Required Printer Description Attributes" \
  "PWG 5100.12 section 6.4 - Required Printer Description Attributes" > "$known"
# (ipp-everywhere.test adds to ipp-2.0.test what a PWG raster printer must
# do: once, with PWG raster.)
for run in ipp-2.2:sample.pwg ipp-2.2:page.jpg ipp-2.2:sample.pdf ipp-everywhere:sample.pwg; do
  suite=${run%%:*} doc=${run#*:}
  {
    out="$W/$suite-$doc.txt"
    ipptool -V 2.0 -T 60 -t -f "$W/$doc" "$(printer_uri elm)" "$suite.test" > "$out" 2>&1 || true
    passed=$(grep -c '\[PASS\]' "$out" || true)
    failed=$(grep '\[FAIL\]' "$out" | sed 's/^ *//; s/ *\[FAIL\]$//' | grep -v -x -F -f "$known" || true)
    check "$suite with $doc: $passed passed, no unexpected failure${failed:+ ($failed)}" \
      [ "$passed" -ge 20 -a -z "$failed" ]
    check "$suite with $doc: server still serving" server_alive
    wait_for 120 printer_idle elm || true
  }
done
