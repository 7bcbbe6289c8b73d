#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages the driver needs to build, run and test.
# Safe to run again: only missing packages are installed.
set -euo pipefail

PKGS=(
  build-essential cmake pkg-config python3
  libcups2-dev libcupsimage2-dev libjbig-dev libusb-1.0-0-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  cups cups-filters cups-ppdc ghostscript qpdf poppler-utils jbigkit-bin
  snmp snmpd umockdev libumockdev-dev gir1.2-umockdev-1.0 python3-gi
  clang libclang-rt-14-dev valgrind iproute2 procps time
  libpappl-dev libpam0g-dev libgs-dev cups-ipp-utils groff-base man-db
  chromium fonts-wqy-zenhei bzip2-doc curl
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
