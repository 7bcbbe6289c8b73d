#!/usr/bin/env bash
# cancel during a long raster job: the filter finishes the page it is on and
# closes the job, so the printer gets a sound stream up to the cut; the job
# ends as canceled and no spool file of the filter is left behind.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
rig_add_queue long lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/C300?serial=5"
boxes=()
for i in $(seq 1 40); do boxes+=("$((40 + i * 10)),400,60,60"); done
make_box_pdf "$E2E_WORK/long.pdf" "${boxes[@]}"

# Collate makes the filter hold pages in a spool file too.
id=$(lp -d long -o Collate=True "$E2E_WORK/long.pdf" | job_id)
for _ in $(seq 1 600); do
  log_has "$id" 'PAGE: 2 ' && break
  sleep 0.1
done
check "job is printing page 2" log_has "$id" 'PAGE: 2 '
cancel "$id"
state=$(wait_job "$id" 60)
check "job ended as canceled ($state)" [ "$state" = canceled ]

# The backend renames its capture once the filters closed the pipe.
stream="$OUT/long-$id.prn"
for _ in $(seq 1 300); do
  [ -f "$stream" ] && break
  sleep 0.1
done
check "the backend got the data up to the cut" [ -s "$stream" ]
check "the stream is sound up to the cut" inspect_stream "$stream" "$E2E_WORK/cut"
pages=$(find "$E2E_WORK/cut" -name 'page-*.pbm' | wc -l)
check "some pages printed, not all ($pages of 40)" [ "$pages" -ge 1 -a "$pages" -lt 40 ]
check "rastertoLumora saw the cancel and exited normally" \
  bash -c "! grep -a '\[Job $id\] PID .*rastertoLumora) \(stopped\|crashed\)' '$LOG'"
for _ in $(seq 1 50); do
  [ -z "$(temp_files_left)" ] && break
  sleep 0.1
done
check "no temporary file left behind" [ -z "$(temp_files_left)" ]
