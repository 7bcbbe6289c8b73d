#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The server under real clients, on one server (also run under the
# sanitizers in build-sanitize/): JPEG and PNG copies made once, damaged
# images ending their job at once, a client that retries a busy printer as
# CUPS does while the server keeps answering, jobs queued behind it
# printed in the order they came, a Create-Job whose document never comes,
# Validate-Job with compression, an unknown media size (over IPP and the
# control socket), a PDF whose printer went away, hundreds of
# Print-Job/Cancel-Job races polled for all their attributes, and a kill in the middle of a state save after which
# every printer comes back and every reloaded job ends.
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK

sample="$APP_SRC/../e2e/sample_document.ps"
pwg_pages "$W/sample.pwg" 600 < "$sample"
for dev in pnggray jpeggray; do
  gs -q -dSAFER -dBATCH -dNOPAUSE -dLastPage=1 -sDEVICE=$dev -r40 -sPAPERSIZE=a4 \
    -o "$W/page.${dev%gray}" "$sample"
done
mv "$W/page.jpeg" "$W/page.jpg"
for f in png jpg; do head -c $(($(stat -c %s "$W/page.$f") / 2)) "$W/page.$f" > "$W/cut.$f"; done
make_box_pdf "$W/box.pdf" 72,650,72,72
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$W/sample.pdf" "$sample"

devices elm:keep slow:keep gone:gone-2000 race:keep
server_start -o multiple-operation-timeout=3
add_printer elm lumora_elm_e200 elm
add_printer slow lumora_cedar_c300 slow
add_printer gone lumora_elm_e200 gone
add_printer race lumora_hazel_h1 race

latest_stream() { ls -t "$W"/dev/"$1"-*.prn | head -n 1; }
printf '%s\n' '{ OPERATION Get-Jobs' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
  '  ATTR uri printer-uri $uri' '  ATTR keyword which-jobs all' \
  '  ATTR keyword requested-attributes job-id,job-state,time-at-creation' \
  '  STATUS successful-ok' '}' > "$W/jobs.test"
jobs_in() { ipptool -tv "$(printer_uri "$1")" "$W/jobs.test"; }
processing_job() {  # processing_job PRINTER: the id of its printing job
  jobs_in "$1" | awk '/job-id \(integer\)/ {id = $NF} /job-state \(enum\) = processing/ {print id}' | head -n 1
}

# Images: one page, its three copies made once; a damaged one ends its job
# with the decoder's reason.
for f in png:image/png jpg:image/jpeg; do
  id=$(submit elm "$W/page.${f%%:*}" "${f#*:}" "integer copies 3")
  state=$(wait_job elm "$id" 60)
  check "${f%%:*}, copies=3: job $id $state" [ "$state" = completed ]
  check "${f%%:*}, copies=3: stream whole" inspect_ok "$(latest_stream elm)" "$W/copies-${f%%:*}"
  check "${f%%:*}, copies=3: 3 sheets ($(pages_in "$W/copies-${f%%:*}"))" \
    [ "$(pages_in "$W/copies-${f%%:*}")" = 3 ]
  id=$(submit elm "$W/cut.${f%%:*}" "${f#*:}")
  state=$(wait_job elm "$id" 10)
  check "truncated ${f%%:*}: job $id aborted within seconds ($state)" [ "$state" = aborted ]
  check "truncated ${f%%:*}: the job says why ($(job_message elm "$id"))" \
    bash -c "[[ '$(job_message elm "$id")' == 'The image cannot be printed: '* ]]"
done

# A printer busy with a client's raster (the client holds back the rest of
# its page); three clients send raster jobs again on every busy answer.
python3 "$HELPERS" stalled-print "$(printer_uri slow)" "$W/sample.pwg" 0.5 "$W/slow.go" \
  > "$W/slow.status" &
stalled=$!
check "busy: a job prints" wait_for 30 job_is slow 1 processing
pids=()
for c in 1 2 3; do
  python3 "$HELPERS" retry-print "$(printer_uri slow)" "$W/sample.pwg" 8 > "$W/retry-$c.out" &
  pids+=($!)
done
polls=0
for _ in $(seq 1 40); do printer_reasons slow > /dev/null && polls=$((polls + 1)); sleep 0.2; done
wait "${pids[@]}"
check "busy: the printer answered every status request ($polls of 40)" [ "$polls" = 40 ]
for c in 1 2 3; do
  check "busy: client $c told busy, never left without an answer ($(cat "$W/retry-$c.out"))" \
    grep -q -E "^busy=[1-9][0-9]* taken=0 silent=0$" "$W/retry-$c.out"
done
# Three jobs queued behind it print in the order they came.
queued=()
for f in sample.pdf:application/pdf page.jpg:image/jpeg box.pdf:application/pdf; do
  queued+=("$(submit slow "$W/${f%%:*}" "${f#*:}")")
done
check "queue: the later jobs wait, shown pending ($(job_state slow "${queued[2]}"))" \
  [ "$(job_state slow "${queued[1]}") $(job_state slow "${queued[2]}")" = "pending pending" ]
touch "$W/slow.go"
wait "$stalled" || true
check "busy: the first job completed" [ "$(wait_job slow 1 60)" = completed ]
for id in "${queued[@]}"; do check "queue: job $id completed" [ "$(wait_job slow "$id" 120)" = completed ]; done
order=$(server_log | sed -n 's/.*\[Printer slow\] Starting job \([0-9]*\)\..*/\1/p' | awk '!seen[$0]++' | tr '\n' ' ')
check "queue: started in the order they came ($order)" [ "$order" = "${queued[*]} " ]

# A job made by Create-Job whose document never comes: ended (the server's
# time-out is 3 s here), and it holds up no other job.
waiting=$(python3 "$HELPERS" ipp "http://127.0.0.1:$PORT/ipp/print/elm" "" "" Create-Job as=tester)
waiting=${waiting##*job-id=}
check "Create-Job without a document: job $waiting ended" [ "$(wait_job elm "$waiting" 30)" = canceled ]
check "it says why ($(job_message elm "$waiting"))" \
  [ "$(job_message elm "$waiting")" = "No document came within 3 seconds of the job's creation." ]
check "busy: a retried job is taken once the printer is free" \
  grep -q "taken=1" <(python3 "$HELPERS" retry-print "$(printer_uri slow)" "$W/sample.pwg" 60)
check "busy: no job made for a busy answer" [ "$(printer_reasons slow | grep -c .)" -ge 1 ]

# Validate-Job with compression (no document follows): answered.
answer=$(timeout 20 python3 "$HELPERS" ipp "http://127.0.0.1:$PORT/ipp/print/elm" "" "" \
  Validate-Job as=tester format=image/pwg-raster compression=gzip || echo timeout)
check "Validate-Job, compression=gzip: answered ($answer)" [ "$answer" = "200 0x0000" ]

# A job naming a size that is no paper.
answer=$(python3 "$HELPERS" ipp "http://127.0.0.1:$PORT/ipp/print/elm" "" "" Print-Job \
  as=tester format=application/pdf media-col=no_such_size document="$W/box.pdf")
check "unknown media size: attributes-or-values-not-supported ($answer)" [ "$answer" = "200 0x040b" ]
check "unknown media size: server still serving" server_alive
# The same over the control socket, which PAPPL asks no callback about.
answer=$(python3 "$HELPERS" ipp "unix:$(control_socket):/ipp/print/elm" "" "" \
  Set-Printer-Attributes media-col-default=no_such_size)
check "unknown media size, control socket: refused ($answer)" [ "$answer" = "200 0x040b" ]
check "unknown media size, control socket: server still serving" server_alive

# A PDF whose printer goes away: a device error, not a document error.
id=$(submit gone "$W/sample.pdf" application/pdf)
check "PDF, printer gone: job $id aborted" [ "$(wait_job gone "$id" 60)" = aborted ]
check "PDF, printer gone: the job says why ($(job_message gone "$id"))" \
  [ "$(job_message gone "$id")" = "The printer stopped taking the job's data." ]
check "PDF, printer gone: not called a document error" \
  bash -c "! grep -a -q '\[Job $id\].*could not render' '$W/app.log'"

# A job printed to its end, then one cancelled as soon as it is taken.
# Hundreds of rounds in the sanitizer build, fewer in the normal one.
rounds=${APP_RACE_ROUNDS:-$([[ $APP_WORK == *asan ]] && echo 200 || echo 50)}
result=$(python3 "$HELPERS" race "$(printer_uri race)" "$W/page.jpg" image/jpeg "$rounds")
check "Print-Job/Cancel-Job race: $result" [ "$result" = "rounds=$rounds terminal=$rounds" ]
check "race: server still serving" server_alive
check "race: no job thrown out of a callback" bash -c "! grep -a -q 'internal error' '$W/app.log'"

# A kill in the middle of a state save (jobs keep the server saving), with
# a job printing; the printers come back, and every reloaded job prints or
# ends with its reason.
python3 "$HELPERS" stalled-print "$(printer_uri slow)" "$W/sample.pwg" 0.5 "$W/never.go" \
  > /dev/null 2>&1 &
stalled=$!
for _ in $(seq 1 300); do
  interrupted=$(processing_job slow)
  [ -z "$interrupted" ] || break
  sleep 0.1
done
submitters=()
for n in $(seq 1 30); do
  submit race "$W/page.jpg" image/jpeg > /dev/null 2>&1 &
  submitters+=($!)
done
saved_printing() { awk '/^<Printer / {p = /name="slow"/} p && /^Job / && /state="5"/' "$W/app.state" | grep -q .; }
wait_for 30 saved_printing
seen=$(python3 "$HELPERS" kill-in-save "$SERVER_PID" "$W/app.state" 30)
[ "$seen" != none ] || kill -9 "$SERVER_PID"
kill "$stalled" 2> /dev/null || true
wait "$SERVER_PID" "$stalled" "${submitters[@]}" 2> /dev/null || true
SERVER_PID=""
check "killed while saving ($seen)" [ "$seen" != none ]
server_start -o multiple-operation-timeout=3
printers=$("$APP" printers -u "$SYSTEM_URI" | sort | tr '\n' ' ')
check "after the kill: the four printers are back ($printers)" [ "$printers" = "elm gone race slow " ]
check "after the kill: no unfinished state file left" \
  bash -c "! ls '$W'/app.state.new-* 2>/dev/null | grep -q ."
check "the job printing at the kill ended ($(job_state slow "$interrupted"))" \
  [ "$(job_state slow "$interrupted")" = aborted ]
check "it says why ($(job_message slow "$interrupted"))" \
  bash -c "[[ '$(job_message slow "$interrupted")' == 'The server stopped '* ]]"
check "the reloaded jobs print" wait_for 120 printer_idle race
jobs_in race > "$W/jobs.out"
check "reloaded jobs: every one ended ($(grep -c 'job-state (enum)' "$W/jobs.out") jobs)" \
  bash -c "! grep -E 'job-state \(enum\) = (pending|held|processing)' '$W/jobs.out'"
check "reloaded jobs: no negative time-at-creation" \
  bash -c "grep -q 'time-at-creation' '$W/jobs.out' && ! grep -q 'time-at-creation (integer) = -' '$W/jobs.out'"
check "server still serving" server_alive
stop_start=$SECONDS
server_stop
check "SIGTERM: the server stopped at once ($((SECONDS - stop_start)) s, PAPPL's limit 60 s)" \
  [ $((SECONDS - stop_start)) -lt 30 ]
