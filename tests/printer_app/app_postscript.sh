#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The PostScript printers of the application end to end, in a network
# namespace of the test's own (as root): network printers with an SNMP
# agent each (ps_helpers.py), the application's server, and a private cupsd
# with queues of the same PPDs whose backend keeps what pstoLumora sends.
#  - a PDF and a PostScript document to a maple printer (A5 fed long edge,
#    collated copies, long-edge duplex), a Larch printer (long-edge duplex)
#    and a printer of the other family: the application's streams equal the
#    classic road's for the same PPD, options and job id;
#  - every other document format prints;
#  - keep-alive and status exchanges run beside a job and stop with it; a
#    cancel at the printer's panel cancels the IPP job;
#  - a cancelled long maple job ends with the cancel trailer at a page
#    boundary; a printer of another maker is refused, and gets no byte;
#  - CUPS's IPP Everywhere suite; a driverless CUPS queue printing a PDF.
if [ "${APP_PS_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ] || ! unshare -n true 2>/dev/null; then
    echo "SKIP: needs root for a network namespace of its own"
    exit 77
  fi
  APP_PS_NETNS=1 exec unshare -n bash "$0" "$@"
fi
ip link set lo up
# Small socket buffers in this namespace: a slow printer holds the job back.
sysctl -q -w net.ipv4.tcp_wmem="4096 16384 65536" net.ipv4.tcp_rmem="4096 16384 65536"
source "$(dirname "$0")/app_lib.sh"
: "${APP_PSFILTER:?}" "${APP_BACKEND:?}"
app_begin
W=$APP_WORK
PS="$APP_SRC/ps_helpers.py"
# Shorter pauses of the side-channel threads (the printer's cadence / 5).
export LUMORA_STATUS_POLL_MS=100 LUMORA_KEEPALIVE_INTERVAL_MS=300
id_of() { echo "MFG:Lumora;CMD:PJL,PS;MDL:$1 series;CLS:PRINTER;DES:Lumora $1;"; }

python3 "$PS" printers "$W/dev" "maple@127.0.0.2|id=$(id_of MP2100)" \
  "larch@127.0.0.3|id=$(id_of LP5100)" "plain@127.0.0.4|id=$(id_of OP3100)" \
  "slow@127.0.0.5|id=$(id_of MP2100)|throttle=50" \
  "panel@127.0.0.6|id=$(id_of MP2150)|throttle=50|cancel=2" \
  "slowlarch@127.0.0.7|id=$(id_of LP5200)|throttle=50" \
  "other@127.0.0.8|id=MFG:Other;MDL:Laser 9;CLS:PRINTER;" > "$W/printers.out" 2>&1 &
DEVICES_PID=$!
wait_for 10 test -f "$W/dev/ready" || { echo "printers did not start" >&2; exit 1; }
server_start
declare -A driver=([maple]=mp2100 [larch]=lp5100 [plain]=op3100 [slow]=mp2100 [panel]=mp2150
                   [slowlarch]=lp5200 [other]=mp2100)
declare -A address=([maple]=2 [larch]=3 [plain]=4 [slow]=5 [panel]=6 [slowlarch]=7 [other]=8)
declare -A jobs
for p in "${!driver[@]}"; do
  check "$p: added with lumora_${driver[$p]}" \
    "$APP" add -d "$p" -m "lumora_${driver[$p]}" -v "socket://127.0.0.${address[$p]}"
  jobs[$p]=0
done

# The documents: a two-page PostScript file and its PDF, a long PDF.
make_box_pdf "$W/doc.pdf" 72,650,72,72 300,100,150,150
cp "$W/doc.pdf.ps" "$W/doc.ps"
# shellcheck disable=SC2046
make_box_pdf "$W/long.pdf" $(for _ in $(seq 1 60); do echo 72,600,200,100; done)

# The classic road: pstoLumora under a private cupsd, the test backend
# keeping the streams, answering the same device ids.
STAGE="$W/stage"
mkdir -p "$STAGE/filter" "$STAGE/ppd"
cp "$APP_PSFILTER" "$STAGE/filter/pstoLumora"
cp "$APP_PPD_DIR"/Lumora-MP2100-Series-PS.ppd "$APP_PPD_DIR"/Lumora-LP5100-Series-PS.ppd \
  "$APP_PPD_DIR"/Lumora-OP3100-Series-PS.ppd "$STAGE/ppd/"
source "$APP_SRC/../e2e/cupsd_rig.sh"
RIG=$(mktemp -d /tmp/lumora-app-ps.XXXXXX)
rig_start "$RIG" "$STAGE" "$APP_BACKEND" || exit 1
CUPSD_PID=$(cat "$RIG/cupsd.pid")
ln -sfn "$(cups-config --serverbin)/backend/ipp" "$RIG/serverbin/backend/ipp"
for q in maple:MP2100 larch:LP5100 plain:OP3100; do
  rig_add_queue "${q%%:*}" "lumora/Lumora-${q#*:}-Series-PS.ppd" \
    "socket://127.0.0.${address[${q%%:*}]}" "$(id_of "${q#*:}")" 2> /dev/null
done
classic=0

# app_job PRINTER FILE FORMAT ATTR...: a job of the application with the
# printer's next job id, which it puts in JOB.
app_job() {
  jobs[$1]=$((jobs[$1] + 1))
  JOB=$(submit "$@")
}
# pad_to PRINTER ID: held jobs, cancelled, until the printer's next job id is ID.
pad_to() {
  local p=$1 id
  while [ $((jobs[$p] + 1)) -lt "$2" ]; do
    app_job "$p" "$W/doc.pdf" application/pdf "keyword job-hold-until indefinite"; id=$JOB
    "$APP" cancel -d "$p" -j "$id" > /dev/null
  done
}

# name | printer | document | app attributes | lp options
cases=(
  "maple pdf|maple|doc.pdf|keyword media iso_a5_148x210mm;keyword sides two-sided-long-edge;integer copies 2;keyword multiple-document-handling separate-documents-collated-copies;boolean a5-long-edge-feed true|-o media=iso_a5_148x210mm -o sides=two-sided-long-edge -n 2 -o multiple-document-handling=separate-documents-collated-copies -o FeedEdge=LongEdge"
  "maple ps|maple|doc.ps|keyword media iso_a5_148x210mm;keyword sides two-sided-long-edge;integer copies 2;keyword multiple-document-handling separate-documents-collated-copies;boolean a5-long-edge-feed true|-o media=iso_a5_148x210mm -o sides=two-sided-long-edge -n 2 -o multiple-document-handling=separate-documents-collated-copies -o FeedEdge=LongEdge"
  "larch pdf|larch|doc.pdf|keyword sides two-sided-long-edge|-o sides=two-sided-long-edge"
  "larch ps|larch|doc.ps|keyword sides two-sided-long-edge|-o sides=two-sided-long-edge"
  "plain pdf|plain|doc.pdf|keyword media na_letter_8.5x11in;integer copies 2|-o media=na_letter_8.5x11in -n 2"
  "plain ps|plain|doc.ps|keyword sides two-sided-short-edge|-o sides=two-sided-short-edge"
)
format_of() { case "$1" in *.pdf) echo application/pdf ;; *.ps) echo application/postscript ;; esac; }
for c in "${cases[@]}"; do
  IFS='|' read -r name p doc attrs lpopts <<< "$c"
  classic=$((classic + 1))
  pad_to "$p" "$classic"
  IFS=';' read -r -a list <<< "$attrs"
  app_job "$p" "$W/$doc" "$(format_of "$doc")" "${list[@]}"; id=$JOB
  # shellcheck disable=SC2086
  lp -d "$p" -U tester -t "Lumora sample" $lpopts "$W/$doc" > /dev/null
  state=$(wait_job "$p" "$id" 120)
  check "$name: job $id $state" [ "$state" = completed ]
  rig_wait_jobs 120
  want="$RIG/out/$p-$classic.prn"
  got=$(ls -t "$W/dev/$p"-*.prn | head -n 1)
  check "$name: the stream equals pstoLumora's under cupsd (job $classic)" \
    python3 "$PS" same "$want" "$got"
done
check "maple: the job's PJL carries its owner, id and A5 fed long edge" \
  grep -a -q -F "@PJL SET PAPER=A5L" "$RIG/out/maple-1.prn"

# Every other format a client sends prints (PWG and Apple raster, JPEG, PNG).
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
  -r150 -sPAPERSIZE=a4 -dFIXEDMEDIA -sOutputFile="$W/doc.pwg" "$W/doc.ps" > /dev/null
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=urfgray -r150 -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -sOutputFile="$W/doc.urf" "$W/doc.ps" > /dev/null 2>&1 || cp "$W/doc.pwg" "$W/doc.urf"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r50 -dLastPage=1 -sOutputFile="$W/doc.png" "$W/doc.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r50 -dLastPage=1 -sOutputFile="$W/doc.jpg" "$W/doc.ps"
for f in pwg:image/pwg-raster urf:image/urf jpg:image/jpeg png:image/png; do
  for p in maple larch; do
    app_job "$p" "$W/doc.${f%%:*}" "${f#*:}"; id=$JOB
    state=$(wait_job "$p" "$id" 120)
    out=$(ls -t "$W/dev/$p"-*.prn | head -n 1)
    check "$p, ${f#*:}: job $id $state, a PostScript stream in PJL" \
      bash -c "[ '$state' = completed ] && grep -a -q -F '@PJL ENTER LANGUAGE=POSTSCRIPT' '$out' && grep -a -q '^%!PS-Adobe' '$out'"
  done
done

# Keep-alive beside a Larch job, stopping with it.
app_job slowlarch "$W/long.pdf" application/pdf; id=$JOB
check "slowlarch: job $id completed" [ "$(wait_job slowlarch "$id" 120)" = completed ]
count() { grep -c "$1" "$2" 2> /dev/null || true; }
n=$(count keepalive "$W/dev/slowlarch.snmp")
check "slowlarch: keep-alive exchanges while it printed ($n)" [ "$n" -ge 2 ]
sleep 1
check "slowlarch: none after the job" [ "$(count keepalive "$W/dev/slowlarch.snmp")" = "$n" ]

# A cancel at the printer's panel (the third status reply) cancels the IPP job.
app_job panel "$W/long.pdf" application/pdf; id=$JOB
state=$(wait_job panel "$id" 120)
check "panel: the printer's cancel cancelled job $id ($state)" [ "$state" = canceled ]
check "panel: the application logged it" log_has "The job was cancelled at the printer."
wait_for 10 test -f "$W/dev/panel-1.prn"
check "panel: the stream ends with the cancel trailer" \
  bash -c "tail -c 300 '$W/dev/panel-1.prn' | grep -a -q -F '%%Pages: 4'"
n=$(count status "$W/dev/panel.snmp")
sleep 1
check "panel: the status queries stopped with the job ($n)" [ "$(count status "$W/dev/panel.snmp")" = "$n" ]

# A cancel in the middle of a long maple job: the stream is the whole job's,
# cut at a page boundary and closed with the cancel trailer.
app_job maple "$W/long.pdf" application/pdf; full=$JOB
check "maple: the long job $full completed" [ "$(wait_job maple "$full" 120)" = completed ]
full_stream=$(ls -t "$W/dev/maple"-*.prn | head -n 1)
app_job slow "$W/long.pdf" application/pdf; id=$JOB
wait_for 60 bash -c "[ \$(stat -c %s $W/dev/slow-1.part 2>/dev/null || echo 0) -gt 40000 ]"
"$APP" cancel -d slow -j "$id" > /dev/null
check "slow: job $id canceled" [ "$(wait_job slow "$id" 60)" = canceled ]
wait_for 30 test -f "$W/dev/slow-1.prn"
check "slow: cut at a page of the whole stream, then the cancel trailer" \
  python3 "$PS" cut-short "$full_stream" "$W/dev/slow-1.prn"

# A printer of another maker: refused with the filter's message, no byte sent.
app_job other "$W/doc.pdf" application/pdf; id=$JOB
check "other: job $id aborted" [ "$(wait_job other "$id" 60)" = aborted ]
check "other: the refusal is the job's message" [ "$(job_message other "$id")" = "当前打印机不可打印，请使用正确的打印机" ]
check "other: and in the printer's log" log_has "[Printer other] 当前打印机不可打印"
check "other: no byte reached the printer" \
  bash -c "[ -z \"\$(cat '$W'/dev/other-*.prn 2>/dev/null)\" ]"

# CUPS's IPP Everywhere suite against a PostScript printer.
ipptool -V 2.0 -t -f "$W/doc.pwg" "$(printer_uri maple)" ipp-everywhere.test \
  > "$W/everywhere.txt" 2>&1 || true
passed=$(grep -c '\[PASS\]' "$W/everywhere.txt" || true)
failed=$(grep '\[FAIL\]' "$W/everywhere.txt" | sed 's/ *\[FAIL\]//; s/^ *//' | tr '\n' '|' || true)
check "maple: IPP Everywhere suite, $passed passed" [ "$passed" -ge 25 ]
check "maple: only what PAPPL 1.3 lacks fails ($failed)" \
  [ "$failed" = "PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes|" ]

# A driverless queue of the scheduler prints a PDF to a Larch and a maple
# printer: PostScript in the family's PJL, A4 pages as drawn, the even pages
# of a long-edge duplex Larch job turned.
boxes=(72,650,72,72 300,100,150,150 100,300,50,200)
make_box_pdf "$W/boxes.pdf" "${boxes[@]}"
for p in larch maple; do
  lpadmin -p "ev$p" -E -v "$(printer_uri "$p")" -m everywhere 2> /dev/null
  before=$(ls "$W/dev" | grep -c "^$p-.*\.prn$")
  lp -d "ev$p" -o sides=two-sided-long-edge "$W/boxes.pdf" > /dev/null
  check "driverless $p: the job reached the printer" \
    wait_for 120 test -f "$W/dev/$p-$((before + 1)).prn"
  out="$W/dev/$p-$((before + 1)).prn"
  sed -n '/^%!PS-Adobe/,/^%%EOF/p' "$out" > "$W/ev$p.ps"
  mkdir -p "$W/ev$p"
  check "driverless $p: ghostscript renders the stream" \
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r30 -o "$W/ev$p/page-%03d.pbm" "$W/ev$p.ps"
  turns=none
  [ "$p" = larch ] && turns=even
  check "driverless $p: A4 pages with the boxes where drawn (turned: $turns)" \
    python3 "$PS" pages "$W/ev$p" 595x842 "$turns" "${boxes[@]}"
  check "driverless $p: the PostScript inside the PJL job" \
    bash -c "grep -a -q -F '@PJL ENTER LANGUAGE=POSTSCRIPT' '$out' && grep -a -q -F '@PJL EOJ' '$out'"
done
check "driverless maple: the job owner and id in the PJL" \
  bash -c "grep -a -q '@PJL SET JOBOWNER=' '$out' && grep -a -q '@PJL SET JOBID=' '$out'"
rig_stop "$RIG"
CUPSD_PID=""
rm -rf "$RIG"
check "no temporary file left in the spool directory" \
  [ -z "$(find "$W/spool" -type f -name 'lumora-*')" ]
