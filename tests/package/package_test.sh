#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package as a user gets it. Builds the packages (scripts/package.sh,
# which also runs lintian), installs printer-driver-lumora with apt-get onto
# this machine and checks that
#   - the filters (root, 0755), the PPDs, lumora-inspect and the docs are in
#     place and the package depends on what the filters run;
#   - a scheduler that uses the system's filter and PPD directories (a private
#     cupsd whose ServerBin/filter is /usr/lib/cups/filter, with no PPD of its
#     own) lists every model in `lpinfo -m`, finds models by device id, and
#     prints through the installed filters to the test backend (a raster job
#     checked page by page with the installed lumora-inspect, a PDF job to a
#     Larch queue through qpdf and pdftops);
#   - `apt-get remove` takes every file away and keeps the queues,
#     `apt-get purge` deletes the queues made with the driver (and no other)
#     and leaves no file of the driver behind.
# The package is purged again on every exit, also on failure.
#   package_test.sh [BACKEND]   BACKEND: the built test backend
#                               (default build/bin/lumora-test-backend)
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
PKG=printer-driver-lumora
APP=lumora-printer-app    # built once the printer application is in the tree
export E2E_BACKEND=${1:-$ROOT/build/bin/lumora-test-backend}
export E2E_WORK=$ROOT/build-deb/package-test
export E2E_STAGE=$E2E_WORK/stage        # the package's files, for the rig's setup
export E2E_INSPECT=/usr/bin/lumora-inspect
# shellcheck source=../e2e/e2e_lib.sh
source "$ROOT/tests/e2e/e2e_lib.sh"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
# apt-get as root, waiting for the lock other apt runs may hold. The
# maintainer scripts reach the scheduler the test uses (CUPS_SERVER,
# CUPS_SERVERROOT), also through sudo.
apt_get() {
  local cups=() v
  for v in CUPS_SERVER CUPS_SERVERROOT; do
    [ -z "${!v:-}" ] || cups+=("$v=${!v}")
  done
  as_root env DEBIAN_FRONTEND=noninteractive "${cups[@]}" \
    apt-get -y -q -o DPkg::Lock::Timeout=300 "$@" >> "$E2E_WORK/apt.log" 2>&1
}
all_files() { local f; for f; do [ -f "$f" ] || return 1; done; }
pkg_state() {  # pkg_state [PACKAGE]
  dpkg-query -W -f='${db:Status-Status}' "${1:-$PKG}" 2>/dev/null || echo not-installed
}
ours_on_disk() {  # files and directories named after the driver in system places
  find /usr /lib /etc /opt /var/lib/dpkg/info /var/lib/systemd -iname '*lumora*' 2>/dev/null | sort
}

# The test installs and purges the package: it must not take away a driver
# that someone installed on this machine.
preflight() {
  local p
  for p in "$PKG" "$APP"; do
    if [ "$(pkg_state "$p")" != not-installed ]; then
      echo "$p is installed on this machine (state $(pkg_state "$p")); the package test would purge it. Remove it first." >&2
      exit 1
    fi
  done
  local f
  for f in /usr/lib/cups/filter/rastertoLumora /usr/lib/cups/filter/pstoLumora /usr/share/ppd/lumora; do
    if [ -e "$f" ]; then
      echo "$f exists (a driver installed with cmake --install?); the package test would replace and remove it. Uninstall it first." >&2
      exit 1
    fi
  done
  [ -x "$E2E_BACKEND" ] || { echo "test backend $E2E_BACKEND not built" >&2; exit 1; }
}

cleanup() {
  local status=$?
  local p
  for p in "$PKG" "$APP"; do
    if [ "$(pkg_state "$p")" != not-installed ]; then
      echo "package: purging $p" >&2
      apt_get purge "$p" || as_root dpkg --purge "$p" || true
    fi
  done
  if [ -n "${RIG:-}" ]; then
    rig_stop "$RIG"
    mkdir -p "$E2E_WORK/rig"
    cp -a "$RIG/log" "$RIG/out" "$E2E_WORK/rig/" 2>/dev/null || true
    if [ "$FAILURES" -gt 0 ] || [ "$status" -ne 0 ]; then
      echo "---- last lines of the scheduler log ----" >&2
      tail -n 40 "$RIG/log/error_log" >&2 2>/dev/null || true
    fi
    rm -rf "$RIG"
  fi
  if [ "$status" -ne 0 ] && [ -s "$E2E_WORK/apt.log" ]; then
    echo "---- last lines of $E2E_WORK/apt.log ----" >&2
    tail -n 20 "$E2E_WORK/apt.log" >&2
  fi
  [ "$FAILURES" -eq 0 ] || [ "$status" -ne 0 ] || status=1
  exit "$status"
}

check_installed() {  # check_installed EXPECTED_PPD_COUNT
  local ppds=$1 f
  for f in rastertoLumora pstoLumora; do
    check "$f installed in CUPS's filter directory, root-owned, 0755" \
      [ "$(stat -c '%U:%G %a' "/usr/lib/cups/filter/$f" 2>/dev/null)" = "root:root 755" ]
  done
  check "$ppds PPD files in /usr/share/ppd/lumora, all 0644" \
    [ "$(find /usr/share/ppd/lumora -name 'Lumora-*.ppd' -perm 0644 | wc -l)" -eq "$ppds" ]
  check "lumora-inspect runs from the PATH" bash -c "lumora-inspect --help > /dev/null"
  check "manual page of lumora-inspect" all_files /usr/share/man/man1/lumora-inspect.1.gz
  check "README, NEWS, docs/, changelog and copyright" all_files /usr/share/doc/$PKG/README.md.gz \
    /usr/share/doc/$PKG/NEWS.md.gz /usr/share/doc/$PKG/docs/development.md.gz \
    /usr/share/doc/$PKG/changelog.gz /usr/share/doc/$PKG/copyright
  local depends
  depends=$(dpkg-query -W -f='${Depends}' "$PKG")
  for f in libcups2 libjbig0 cups-filters qpdf; do
    check "depends on $f" grep -q -E "(^|, )$f( |,|$)" <<< "$depends"
  done
  check "enhances cups" [ "$(dpkg-query -W -f='${Enhances}' "$PKG")" = cups ]
  if [ -f "$ROOT/build/CMakeCache.txt" ]; then
    check "package version = the CMake project's version" \
      grep -q "^CMAKE_PROJECT_VERSION:STATIC=$(dpkg-query -W -f='${Version}' "$PKG")$" "$ROOT/build/CMakeCache.txt"
  fi
}

# A private scheduler on the system's directories: its ServerBin/filter is
# the system's filter directory and it has no PPD of its own, so what it finds
# of the driver is what the package installed.
start_system_rig() {
  RIG=$(mktemp -d /tmp/lumora-package.XXXXXX)
  rig_setup "$RIG" "$E2E_STAGE" "$E2E_BACKEND" > /dev/null
  rm -rf "$RIG/serverbin/filter" "$RIG/data/model/lumora"
  ln -s /usr/lib/cups/filter "$RIG/serverbin/filter"
  export CUPS_SERVER=$RIG/cups.sock CUPS_SERVERROOT=$RIG
  LOG=$RIG/log/error_log
  OUT=$RIG/out
  setsid cupsd -f -c "$RIG/cupsd.conf" -s "$RIG/cups-files.conf" \
    > "$RIG/log/cupsd.out" 2>&1 < /dev/null &
  echo $! > "$RIG/cupsd.pid"
  local _
  for _ in $(seq 1 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && return 0
    sleep 0.1
  done
  echo "cupsd did not start" >&2
  cat "$RIG/log/cupsd.out" >&2
  return 1
}

check_models() {  # check_models EXPECTED_PPD_COUNT
  local ppds=$1 models
  models=$(lpinfo -m)
  check "lpinfo -m lists all $ppds models from /usr/share/ppd/lumora" \
    [ "$(grep -c '^lsb/usr/lumora/Lumora-.*\.ppd ' <<< "$models")" -eq "$ppds" ]
  local row devid want
  for row in "MFG:Lumora;CMD:PJL,PS;MDL:MP2100 series;CLS:PRINTER;|Lumora-MP2100-Series-PS.ppd" \
             "MFG:Lumora;CMD:PJL,LUMORA;MDL:Cedar C300 Series;CLS:PRINTER;|Lumora-Cedar-C300-Series.ppd"; do
    devid=${row%|*} want=${row#*|}
    check "lpinfo --device-id finds $want" \
      bash -c "lpinfo --device-id '$devid' -m | head -n 1 | grep -q '^lsb/usr/lumora/$want '"
  done
}

# One job through each installed filter; "other" is a queue of another driver,
# which the purge must keep.
check_jobs() {
  local boxes=(72,650,72,72 300,100,150,150)
  make_box_pdf "$E2E_WORK/boxes.pdf" "${boxes[@]}"
  rig_add_queue cedar lsb/usr/lumora/Lumora-Cedar-C300-Series.ppd "usb://Lumora/Cedar%20C300?serial=P1"
  rig_add_queue larch lsb/usr/lumora/Lumora-LP5100-Series-PS.ppd "socket://127.0.0.1:9100" \
    "MFG:Lumora;CMD:PJL,PS;MDL:LP5100 series;CLS:PRINTER;DES:Lumora LP5100;"
  rig_add_queue other lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd "usb://Other/Printer?serial=P2"

  local cedar larch state
  cedar=$(lp -d cedar "$E2E_WORK/boxes.pdf" | job_id)
  larch=$(lp -d larch -o Duplex=DuplexNoTumble "$E2E_WORK/boxes.pdf" | job_id)
  state=$(wait_job "$cedar" 120)
  check "raster job completed ($state)" [ "$state" = completed ]
  check "the installed rastertoLumora ran" log_has "$cedar" "Started filter $RIG/serverbin/filter/rastertoLumora"
  check "the installed lumora-inspect reads its stream without faults" \
    inspect_stream "$OUT/cedar-$cedar.prn" "$E2E_WORK/cedar"
  check "each page holds its box at its place" \
    python3 "$E2E_SRC/check_pages.py" "$E2E_WORK/cedar" "$RIG/ppd/cedar.ppd" A4 "${boxes[@]}"
  check "no error in the raster job's log" no_stray_errors "$cedar"
  state=$(wait_job "$larch" 120)
  check "Larch PDF job completed ($state)" [ "$state" = completed ]
  check "the installed pstoLumora ran" log_has "$larch" "Started filter $RIG/serverbin/filter/pstoLumora"
  check "Larch job converted to PostScript" grep -a -q '^%!PS-Adobe' "$OUT/larch-$larch.prn"
  check "no error in the Larch job's log" no_stray_errors "$larch"
}

check_removal() {  # check_removal FILE-LIST BASELINE
  local files=$1 baseline=$2 left
  apt_get remove "$PKG"
  left=$(while IFS= read -r f; do [ -f "$f" ] && echo "$f"; done < "$files" || true)
  check "apt-get remove took every installed file away" [ -z "$left" ]
  check "apt-get remove kept the queues" bash -c "lpstat -v cedar larch > /dev/null"

  apt_get purge "$PKG"
  check "apt-get purge: package gone ($(pkg_state))" [ "$(pkg_state)" = not-installed ]
  check "apt-get purge deleted the driver's queues" bash -c "! lpstat -v 2>/dev/null | grep -q -E 'cedar|larch'"
  check "apt-get purge kept the other driver's queue" bash -c "lpstat -v other > /dev/null"
  check "no PPD copy of ours left in the scheduler" \
    bash -c "! grep -l -s Lumora '$RIG'/ppd/*.ppd"
  left=$(comm -13 "$baseline" <(ours_on_disk))
  [ -z "$left" ] || echo "$left" >&2
  check "no file or directory of the driver left in /usr, /etc, /opt, dpkg's records" [ -z "$left" ]
}

# The printer application's package: installed with its manual page and what
# its jobs run, its service enabled (the maintainer scripts work without a
# running systemd), purged without a trace.
check_app() {  # check_app DEB BASELINE
  local deb=$1 baseline=$2 left
  apt_get install "$deb"
  check "$APP: program, manual page, systemd unit and its document installed" \
    all_files /usr/bin/$APP /usr/share/man/man1/$APP.1.gz /lib/systemd/system/$APP.service \
    /usr/share/doc/$APP/printer-app.md.gz
  check "$APP: depends on ghostscript (PDF jobs)" \
    grep -q -E "(^|, )ghostscript( |,|$)" <<< "$(dpkg-query -W -f='${Depends}' "$APP")"
  check "$APP: --version is the package's upstream version" \
    [ "$($APP --version)" = "$(dpkg-query -W -f='${Version}' "$APP" | sed 's/^[0-9]*://; s/[^0-9.].*//')" ]
  check "$APP: service enabled on install" \
    [ -n "$(find /etc/systemd/system -name $APP.service -type l)" ]
  check "$APP: recommends avahi-daemon" \
    grep -q avahi-daemon <<< "$(dpkg-query -W -f='${Recommends}' "$APP")"
  apt_get purge "$APP"
  left=$(comm -13 "$baseline" <(ours_on_disk))
  [ -z "$left" ] || echo "$left" >&2
  check "$APP: purge left no file, unit link or state behind" [ -z "$left" ]
}

main() {
  preflight
  bash scripts/package.sh
  rm -rf "$E2E_WORK"
  mkdir -p "$E2E_STAGE"
  local deb ppds
  deb=$(ls "$ROOT"/dist/${PKG}_*.deb)
  ppds=$(python3 tools/gen_ppd.py ppd/models.tsv "$E2E_WORK/ppd-names" --list | wc -l)
  dpkg-deb -x "$deb" "$E2E_STAGE"
  ours_on_disk > "$E2E_WORK/baseline.txt"

  trap cleanup EXIT
  local t0=$SECONDS
  apt_get install "$deb"
  echo "package: installed $(basename "$deb") in $((SECONDS - t0)) s"
  dpkg-query -L "$PKG" > "$E2E_WORK/files.txt"
  check_installed "$ppds"
  start_system_rig
  check_models "$ppds"
  check_jobs
  check_removal "$E2E_WORK/files.txt" "$E2E_WORK/baseline.txt"
  local app
  app=$(ls "$ROOT"/dist/${APP}_*.deb 2>/dev/null || true)
  [ -z "$app" ] || check_app "$app" "$E2E_WORK/baseline.txt"
  echo "package: $((CHECKS - FAILURES)) passed, $FAILURES failed"
}

main "$@"
