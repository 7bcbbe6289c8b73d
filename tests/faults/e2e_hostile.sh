#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Hostile job titles, user names, option values and file names sent through
# the real scheduler to a raster queue, a maple PostScript queue and a larch
# PDF queue. Every value tries to create a canary file; none may appear,
# every job the scheduler accepts ends (printed, or refused with an ERROR
# line), no filter crashes and no temporary file is left. Uses the private
# cupsd rig of tests/e2e.
source "$(dirname "$0")/../e2e/e2e_lib.sh"
e2e_start
mkdir -p "$E2E_WORK/files"
# The filters run as lp: the canaries go where lp can write (a build tree
# under /root is out of its reach), and a shell run as lp does create them.
CANARY=$(mktemp -d /tmp/lumora-canary.XXXXXX)
chmod 1777 "$CANARY"
if [ "$(id -u)" -eq 0 ] && id lp >/dev/null 2>&1; then
  runuser -u lp -- /bin/sh -c "touch $CANARY/selftest"
  check "a shell run as lp makes the canary" [ -e "$CANARY/selftest" ]
  rm -f "$CANARY/selftest"
fi

rig_add_queue raster lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/Cedar-C300?serial=1"
add_ps_queue maple MP2100 "usb://Lumora/MP2100?serial=7"
add_ps_queue larch LP5100 "socket://127.0.0.1:9100"

make_box_pdf "$E2E_WORK/boxes.pdf" 72,650,72,72 200,500,100,50
# A file name holds no '/': its canaries are relative, made wherever the
# filter's working directory is (looked for in the rig, / and /tmp).
odd="$E2E_WORK/files/job \$(touch lumora-canary-name) \`touch lumora-canary-name2\`;touch lumora-canary-name3;'\""
cp "$E2E_WORK/boxes.pdf" "$odd.pdf"
cp "$E2E_WORK/boxes.pdf.ps" "$odd.ps"

long=$(printf 'L%.0s' $(seq 1 3000))
values=(
  "\$(touch $CANARY/dollar)"
  "\`touch $CANARY/backtick\`"
  "; touch $CANARY/semicolon ;"
  "' ; touch $CANARY/single ; '\" ; touch $CANARY/double ; \""
  $'two\nlines $(touch '"$CANARY"$'/newline)\r\n'
  "$long\$(touch $CANARY/long)"
)

# Printed, or stopped by the driver with an ERROR line (never a hang).
ended_cleanly() { [ "$2" = completed ] || { [ "$2" != timeout ] && log_has "$1" 'ERROR:'; }; }

ids=()
refused=0
for q in raster maple larch; do
  file="$odd.pdf"
  [ "$q" = maple ] && file="$odd.ps"
  for i in "${!values[@]}"; do
    v=${values[$i]}
    u=${values[$(( (i + 1) % ${#values[@]} ))]}
    # The scheduler may refuse some values (a user name with a newline);
    # what it accepts must come through unharmed.
    id=$(lp -d "$q" -t "$v" -U "$u" -n 2 -o Collate=True -o "Density=$v" -o "lumora-note=$v" \
           -o "PageSize=$v" "$file" 2>/dev/null | job_id || true)
    if [ -n "$id" ]; then ids+=("$q:$id"); else refused=$((refused + 1)); fi
  done
done
echo "jobs accepted: ${#ids[@]}, refused by the scheduler: $refused"
check "the scheduler accepted hostile jobs" [ "${#ids[@]}" -ge 12 ]

for entry in "${ids[@]}"; do
  q=${entry%%:*}
  id=${entry#*:}
  state=$(wait_job "$id" 120)
  check "$q job $id ended ($state)" ended_cleanly "$id" "$state"
  check "$q job $id: the driver's filter ran" log_has "$id" 'Started filter .*/(rastertoLumora|pstoLumora)'

  check "$q job $id: no filter crashed" bash -c "! grep -a '\[Job $id\]' '$LOG' | grep -a -q -E 'crashed on signal|terminated with signal'"
done
check "no canary file: no command ran" [ -z "$(ls -A "$CANARY")" ]
check "no canary of the file name" \
  [ -z "$(find "$E2E_WORK" / /tmp -maxdepth 1 -name 'lumora-canary-name*' 2>/dev/null; find "$E2E_WORK" -name 'lumora-canary-name*')" ]
check "no file appeared beside the job files" [ "$(ls -A "$E2E_WORK/files" | wc -l)" -eq 2 ]
check "no temporary file left behind" [ -z "$(temp_files_left)" ]
rm -rf "$CANARY"
