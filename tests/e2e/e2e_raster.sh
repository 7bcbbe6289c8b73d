#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A PDF printed to a queue of each raster family goes through the system's
# filters and rastertoLumora to the backend; the captured job stream decodes
# page by page to the pictures of the PDF, and the scheduler logs the pages
# and no errors.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
boxes=(72,650,72,72 200,500,100,50 300,100,150,150)
make_box_pdf "$E2E_WORK/boxes.pdf" "${boxes[@]}"

# One model of each paper table / dialect.
models=(Hazel-H1 Hazel-M1 Cedar-C300 Elm-E200)
declare -A ids
for m in "${models[@]}"; do
  rig_add_queue "$m" "lumora/Lumora-$m-Series.ppd" "usb://Lumora/$m?serial=1"
  ids[$m]=$(lp -d "$m" -t "boxes" "$E2E_WORK/boxes.pdf" | job_id)
done

for m in "${models[@]}"; do
  id=${ids[$m]}
  state=$(wait_job "$id" 120)
  check "$m: job $id completed ($state)" [ "$state" = completed ]
  stream="$OUT/$m-$id.prn"
  check "$m: the backend received the job" [ -s "$stream" ]
  check "$m: lumora-inspect reads the stream without faults" inspect_stream "$stream" "$E2E_WORK/$m"
  check "$m: each page holds its box at its place" \
    python3 "$E2E_SRC/check_pages.py" "$E2E_WORK/$m" "$RIG/ppd/$m.ppd" A4 "${boxes[@]}"
  check "$m: rastertoLumora ran" log_has "$id" 'Started filter .*/rastertoLumora'
  check "$m: three PAGE: lines" [ "$(job_log "$id" | grep -a -c 'PAGE: [0-9]* 1$')" -eq 3 ]
  check "$m: progress lines" log_has "$id" 'Printing page 3, 0% complete'
  check "$m: 8-bit gray raster (W) from the PPD" \
    bash -c "grep -a '\[Job $id\] cupsColorSpace = 0' '$LOG' >/dev/null && grep -a '\[Job $id\] cupsBitsPerColor = 8' '$LOG' >/dev/null"
  check "$m: the filter ends with Ready to print" log_has "$id" 'Ready to print'
  check "$m: no stray error lines" no_stray_errors "$id"
  check "$m: page log counts 3 pages" grep -q "^$m root $id .* total 3 " "$RIG/log/page_log"
done

# 1200 dpi on the Hazel family: a doubled image.
id=$(lp -d Hazel-H1 -o Resolution=1200dpi -o DPI1200=True "$E2E_WORK/boxes.pdf" | job_id)
state=$(wait_job "$id" 120)
check "Hazel-H1 at 1200 dpi: job completed ($state)" [ "$state" = completed ]
inspect_stream "$OUT/Hazel-H1-$id.prn" "$E2E_WORK/h1200" || fail "1200 dpi stream has faults"
check "Hazel-H1 at 1200 dpi: 9600 x 13560 image" grep -q "image 9600 x 13560" "$E2E_WORK/h1200.summary.txt"
# A custom size: the image is the sheet less the PPD's custom margins
# (12 + 12 points across, 24 points down), rounded up to 32 and 8 pixels.
id=$(lp -d Cedar-C300 -o PageSize=Custom.300x500 "$E2E_WORK/boxes.pdf" | job_id)
state=$(wait_job "$id" 120)
check "custom size: job completed ($state)" [ "$state" = completed ]
inspect_stream "$OUT/Cedar-C300-$id.prn" "$E2E_WORK/custom" || fail "custom size stream has faults"
check "custom size: paper code 0, 2304 x 3968 image" \
  bash -c "grep -q 'paper code 0 (custom)' '$E2E_WORK/custom.summary.txt' && grep -q 'image 2304 x 3968' '$E2E_WORK/custom.summary.txt'"
# A raster job's copies: the filter reads the job file itself, so the count
# comes from lp -n (the page headers ask for one copy); the printer makes
# plain copies, the filter collated ones.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -dcupsColorSpace=0 -dcupsBitsPerColor=8 -r600 \
  -sPAPERSIZE=a4 -dFIXEDMEDIA -o "$E2E_WORK/boxes.ras" "$E2E_WORK/boxes.pdf" > /dev/null
for want in "False:ax2 bx2 cx2:6" "True:a b c a b c:6"; do
  IFS=: read -r collate pictures total <<< "$want"
  id=$(lp -d Cedar-C300 -n 2 -o "Collate=$collate" "$E2E_WORK/boxes.ras" | job_id)
  state=$(wait_job "$id" 120)
  "$E2E_INSPECT" --json "$OUT/Cedar-C300-$id.prn" > "$E2E_WORK/copies-$collate.json" ||
    fail "raster, 2 copies, Collate=$collate: the stream has faults"
  got=$(python3 "$E2E_SRC/stream_field.py" "$E2E_WORK/copies-$collate.json" pictures)
  check "raster, 2 copies, Collate=$collate ($state): $got (wanted $pictures)" [ "$got" = "$pictures" ]
  check "raster, 2 copies, Collate=$collate: page log counts $total" \
    grep -q "^Cedar-C300 root $id .* total $total " "$RIG/log/page_log"
done
check "no temporary file left behind" [ -z "$(temp_files_left)" ]
