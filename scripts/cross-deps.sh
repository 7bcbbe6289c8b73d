#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Prepares cross-building for an ARM architecture and running its programs
# under emulation:
#   scripts/cross-deps.sh ARCH [DIR]      ARCH: arm64 or armhf
# 1. Installs the cross compilers and qemu-user on the machine: the
#    crossbuild-essential-ARCH meta package where installing it upgrades or
#    removes no installed package, else its compilers alone (the rest,
#    dpkg-cross, only drags in newer perl packages).
# 2. Lays out the target's libraries in a sysroot, DIR (default
#    build-cross/sysroot-ARCH): the ARCH build of the -dev packages the
#    driver builds and tests against, with everything they depend on,
#    downloaded by apt with a state of its own (its own lists, cache and an
#    empty status, the machine's sources and keys) and unpacked there. The
#    machine's package database is never touched: no foreign architecture is
#    added to it and no ARCH package installed, so nothing of the host can
#    be upgraded or removed to make them co-installable.
#    DIR/DEBIAN/symbols and DIR/DEBIAN/shlibs gather the packages' symbol and
#    shlibs files: dpkg-shlibdeps -SDIR computes the Depends from them.
# Prints DIR on the last line. Safe to run again: a complete sysroot whose
# package list has not changed is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: cross-deps.sh arm64|armhf [DIR]}
case "$arch" in
  arm64) triplet=aarch64-linux-gnu ;;
  armhf) triplet=arm-linux-gnueabihf ;;
  *) echo "cross-deps: unknown architecture $arch (arm64 or armhf)" >&2; exit 2 ;;
esac
root=$(realpath -m "${2:-build-cross/sysroot-$arch}")

# What the driver, its printer application and its tests link against. The
# C library, libstdc++ and libgcc come with the compilers for building; their
# target packages are unpacked for running (qemu -L) and for the Depends.
TARGET_PKGS=(libcups2-dev libcupsimage2-dev libjbig-dev libpng-dev libusb-1.0-0-dev
             zlib1g-dev libpappl-dev libpam0g-dev libgs-dev libgtest-dev libgmock-dev
             libc6 libstdc++6 libgcc-s1)
# The compilers' own files: never unpacked over them.
SKIP_PKGS='^(libc6-dev|linux-libc-dev|libcrypt-dev|libnsl-dev|libtirpc-dev|libgcc-[0-9]+-dev|libstdc\+\+-[0-9]+-dev|gcc-[0-9]+-base)$'

log() { echo "cross-deps: $*" >&2; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# Lines of a simulated install that upgrade, replace or remove an installed
# package ("Inst NAME [OLD] (NEW ...)", "Remv NAME ...").
touches_installed() {
  apt-get -s install --no-install-recommends "$@" 2>/dev/null | grep -E '^(Inst [^ ]+ \[|Remv )' || true
}

# missing PKGS...: those not installed.
missing() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

install_tools() {
  local tools hit
  mapfile -t tools < <(missing qemu-user "g++-$triplet" dpkg-dev)
  installed "crossbuild-essential-$arch" && [ ${#tools[@]} -eq 0 ] && return 0
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  # Only packages not yet installed are named: naming an installed one asks
  # apt to upgrade it.
  hit=$(touches_installed "crossbuild-essential-$arch" "${tools[@]}")
  if [ -z "$hit" ]; then
    tools+=("crossbuild-essential-$arch")
  else
    log "crossbuild-essential-$arch would change installed packages; installing its compilers alone:"
    echo "$hit" >&2
    [ ${#tools[@]} -eq 0 ] && return 0
    hit=$(touches_installed "${tools[@]}")
    if [ -n "$hit" ]; then
      log "the compilers would change installed packages too; install them by hand:"
      echo "$hit" >&2
      return 1
    fi
  fi
  log "installing ${tools[*]}"
  as_root apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends "${tools[@]}" > /dev/null
}

# apt_private ARGS...: apt-get for the target architecture, with a state of
# its own under $root.apt.
apt_private() {
  local s=$root.apt
  mkdir -p "$s/lists/partial" "$s/cache/archives/partial"
  [ -e "$s/status" ] || : > "$s/status"
  apt-get -q -o Debug::NoLocking=1 -o Dir::State="$s" -o Dir::State::Lists="$s/lists" \
    -o Dir::State::status="$s/status" -o Dir::Cache="$s/cache" \
    -o Dir::Cache::pkgcache="" -o Dir::Cache::srcpkgcache="" \
    -o APT::Architecture="$arch" -o APT::Architectures::="$arch" \
    -o APT::Install-Recommends=false "$@"
}

# download_closure: the .deb files of TARGET_PKGS and their dependencies.
download_closure() {
  local try
  mkdir -p "$root.apt"
  for try in 1 2 3; do
    # A mirror in the middle of a sync can serve a list of the wrong size.
    apt_private update > "$root.apt/update.log" 2>&1 && break
    log "apt update failed (try $try), see $root.apt/update.log"
    if [ "$try" = 3 ]; then
      # Lists that did come are used (apt ignores the others): a mirror
      # syncing its security lists still serves the release's packages.
      ls "$root.apt/lists/"*_Packages* > /dev/null 2>&1 || return 1
      log "going on with the lists that came:"
      grep -E '^(E|Err):' "$root.apt/update.log" >&2 || true
      break
    fi
    sleep 20
  done
  rm -f "$root.apt/cache/archives/"*.deb
  apt_private install -y --download-only "${TARGET_PKGS[@]}" > "$root.apt/install.log" 2>&1 || {
    tail -n 20 "$root.apt/install.log" >&2
    return 1
  }
}

# unpack DEB: its files into $root, its symbols and shlibs into $root/DEBIAN.
unpack() {
  local deb=$1 ctl
  dpkg-deb -x "$deb" "$root"
  ctl=$(mktemp -d)
  dpkg-deb -e "$deb" "$ctl"
  [ -f "$ctl/symbols" ] && cat "$ctl/symbols" >> "$root/DEBIAN/symbols"
  [ -f "$ctl/shlibs" ] && cat "$ctl/shlibs" >> "$root/DEBIAN/shlibs"
  rm -rf "$ctl"
}

# Absolute symbolic links point into the target's tree, not the host's.
relink_absolute() {
  local link target
  while IFS= read -r -d '' link; do
    target=$(readlink "$link")
    case "$target" in /*) ln -sfn "$root$target" "$link" ;; esac
  done < <(find "$root" -path "$root/DEBIAN" -prune -o -type l -print0)
}

build_sysroot() {
  local stamp=$root/DEBIAN/packages want
  want="$arch ${TARGET_PKGS[*]}"
  if [ -f "$stamp" ] && [ "$(head -n 1 "$stamp")" = "$want" ]; then
    log "sysroot $root is complete"
    return 0
  fi
  log "downloading the $arch packages"
  download_closure
  rm -rf "$root"
  mkdir -p "$root/DEBIAN"
  : > "$root/DEBIAN/symbols"
  : > "$root/DEBIAN/shlibs"
  local deb name n=0
  echo "$want" > "$stamp.new"
  for deb in "$root.apt/cache/archives/"*.deb; do
    name=$(dpkg-deb -f "$deb" Package)
    [[ $name =~ $SKIP_PKGS ]] && continue
    unpack "$deb"
    dpkg-deb -f "$deb" Package Version | paste -sd' ' >> "$stamp.new"
    n=$((n + 1))
  done
  relink_absolute
  mv "$stamp.new" "$stamp"
  log "sysroot $root: $n packages"
}

install_tools
build_sysroot
echo "$root"
