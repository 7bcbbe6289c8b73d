#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A printer whose device id is not one of the driver's models: pstoLumora
# refuses the job, the scheduler logs the refusal and stops the job, and
# nothing reaches the printer; without a device id the PPD decides.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
rig_add_queue other lumora/Lumora-MP2100-Series-PS.ppd "usb://Acme/Laser?serial=9" \
  "MFG:Acme;CMD:PJL,PS;MDL:Laser 9 series;CLS:PRINTER;"
printf '%%!PS\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (refused) show showpage\n' \
  > "$E2E_WORK/page.ps"
id=$(lp -d other "$E2E_WORK/page.ps" | job_id)
state=$(wait_job "$id" 60)
check "job stopped by the filter's failure ($state)" [ "$state" = stopped ]
check "the refusal is in the scheduler's log" log_has "$id" '当前打印机不可打印，请使用正确的打印机'
check "pstoLumora exited with status 1" log_has "$id" 'pstoLumora\) stopped with status 1'
check "no job data reached the printer" [ ! -s "$OUT/other-$id.prn" ]

# A backend that cannot tell the device id: the PPD's nickname decides, and
# the job prints.
rig_add_queue noid lumora/Lumora-MP2100-Series-PS.ppd "socket://127.0.0.1:9100"
id=$(lp -d noid "$E2E_WORK/page.ps" | job_id)
state=$(wait_job "$id" 60)
check "without a device id the job completes ($state)" [ "$state" = completed ]
check "the filter said it had no device id" log_has "$id" 'can.*t find 1284 information'
check "the job reached the printer" [ -s "$OUT/noid-$id.prn" ]
