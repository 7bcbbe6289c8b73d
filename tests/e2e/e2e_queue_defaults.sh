#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The queue's defaults, as an administrator sets them with lpadmin -o, reach
# the printer on every raster family. For each option of the raster PPDs, a
# queue of each family that offers it gets a default other than the PPD's:
# a job that names nothing carries the queue's default, and a job that names
# the option carries its own choice.
source "$(dirname "$0")/e2e_lib.sh"
export RIG_EXTRA_CONF="SetEnv LUMORA_MANUAL_DUPLEX_PAUSE 0"
e2e_start

declare -A PPD=(
  [hazel]=Lumora-Hazel-H1-Series        # PLATFORM_C, 1200 dpi
  [willow]=Lumora-Willow-Plus-Series    # PLATFORM_Z, duplex unit, 1200 dpi output
  [c200]=Lumora-Cedar-C200-Series       # PLATFORM_Z, manual duplex
  [elm]=Lumora-Elm-E300-Series          # PLATFORM_M, 1200 dpi output
)
ALL="hazel willow c200 elm"

# Three A4 pages with gray boxes of three widths (gray shows the screen),
# and the first two of them as a raster that asks for two copies (the
# scheduler hands a raster to the filter as it is, copy count included).
{
  echo "%!PS"
  for w in 72 144 216; do
    echo "<< /PageSize [595 842] >> setpagedevice 0.5 setgray 72 650 $w 72 rectfill showpage"
  done
} > "$E2E_WORK/gray.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$E2E_WORK/gray.pdf" "$E2E_WORK/gray.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -dcupsColorSpace=0 -dcupsBitsPerColor=8 -r600 \
  -sPAPERSIZE=a5 -dFIXEDMEDIA -dNumCopies=2 -dLastPage=2 -o "$E2E_WORK/copies.ras" \
  "$E2E_WORK/gray.pdf" > /dev/null

# queue defaults | the job's own option | families | field (stream_field.py)
# | with the default | with the job's own option | document (pdf or ras,
# then more lp arguments)
# "differs": the two jobs' pictures differ (the option changes the screen
# or turns the page, which no record names).
rows=(
  "Density=4|Density=1|$ALL|density|4|1|pdf"
  "TonerMode=True|TonerMode=False|$ALL|density|0|2|pdf"
  "FineMode=True|FineMode=False|willow c200|fine|1|0|pdf"
  "InputSlot=ManualFeed|InputSlot=Auto|$ALL|slot|1|0|pdf"
  "DPI1200=True|DPI1200=False|elm|bits|2|1|pdf"
  "DPI1200=True|DPI1200=False|hazel willow|image|differs||pdf"
  "NegativePrint=True|NegativePrint=False|$ALL|negative|yes|no|pdf"
  "ImageRotation=True|ImageRotation=False|$ALL|image|differs||pdf"
  "PageSize=A5|PageSize=A4|$ALL|paper|A5|A4|pdf"
  "PageSize=A5 FeedLongEdge=True|FeedLongEdge=False|$ALL|longedge|yes|no|pdf"
  "Resolution=1200dpi|Resolution=600dpi|hazel|dpi|1200|600|pdf"
  "Duplex=DuplexNoTumble|Duplex=None|hazel willow elm|pages|4|3|pdf"
  "Duplex=DuplexNoTumble|Duplex=None|c200|order|1 3 MD 4 2|1 2 3|pdf"
  "Duplex=DuplexNoTumble outputorder=True|outputorder=Normal|c200|order|1 3 MD 2 4|1 3 MD 4 2|pdf"
  "Collate=True|Collate=False|$ALL|copies|1 1 1 1|2 2|ras"
  "Collate=True|Collate=False|$ALL|pictures|a b c a b c|ax2 bx2 cx2|pdf -n 2"
)

# report QUEUE ID NAME: the stream's JSON report (empty on a fault).
report() {
  local q=$1 id=$2 name=$3 state
  state=$(wait_job "$id" 120)
  if [ "$state" != completed ]; then
    fail "$name: job $state"
    return 1
  fi
  if ! "$E2E_INSPECT" --json "$OUT/$q-$id.prn" > "$E2E_WORK/$q-$id.json"; then
    fail "$name: the stream has faults"
    return 1
  fi
  echo "$E2E_WORK/$q-$id.json"
}

n=0
for row in "${rows[@]}"; do
  IFS='|' read -r defaults own families field want wantOwn doc <<< "$row"
  n=$((n + 1))
  jobs=()
  for fam in $families; do
    q="d$n-$fam"
    rig_add_queue "$q" "lumora/${PPD[$fam]}.ppd" "usb://Lumora/$fam?serial=d$n" 2> /dev/null
    set_opts=()
    for o in $defaults; do set_opts+=(-o "$o"); done
    lpadmin -p "$q" "${set_opts[@]}" 2> /dev/null
    read -r kind more <<< "$doc"
    file="$E2E_WORK/gray.pdf"
    [ "$kind" = ras ] && file="$E2E_WORK/copies.ras"
    # shellcheck disable=SC2086 # more: further lp arguments
    plain=$(lp -d "$q" $more "$file" | job_id)
    # shellcheck disable=SC2086
    named=$(lp -d "$q" $more -o "$own" "$file" | job_id)
    jobs+=("$q $plain $named")
  done
  for entry in "${jobs[@]}"; do
    read -r q plain named <<< "$entry"
    what="${q#*-}: queue default $defaults"
    a=$(report "$q" "$plain" "$what") || continue
    b=$(report "$q" "$named" "${q#*-}: job's own $own") || continue
    got=$(python3 "$E2E_SRC/stream_field.py" "$a" "$field")
    gotOwn=$(python3 "$E2E_SRC/stream_field.py" "$b" "$field")
    if [ "$want" = differs ]; then
      check "$what changes the picture, $own gives it back" [ "$got" != "$gotOwn" ]
    else
      check "$what: $field $got (wanted $want)" [ "$got" = "$want" ]
      check "${q#*-}: job's own $own wins: $field $gotOwn (wanted $wantOwn)" [ "$gotOwn" = "$wantOwn" ]
    fi
    check "${q#*-} row $n: both streams end with the job end" \
      [ "$(python3 "$E2E_SRC/stream_field.py" "$a" end)$(python3 "$E2E_SRC/stream_field.py" "$b" end)" = yesyes ]
  done
done
echo "$CHECKS checks, $FAILURES failed"
