#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian packages of the driver and leaves them in dist/:
#   printer-driver-lumora   the filters, the PPDs and lumora-inspect
#   lumora-printer-app      the printer application (once printer_app/ is in
#                           the tree; until then the build profile
#                           pkg.lumora.noapp leaves it out)
# The packages are built from a clean copy of the tree (the files git knows
# plus new ones it does not ignore, without any build directory) in
# build-deb/, then checked with lintian: an error fails the script.
# The version is the top entry of debian/changelog.
# Installs what it needs to build them (debhelper, lintian, the
# Build-Depends of debian/control).
#   scripts/package.sh [--arch ARCH]...
# --arch (repeated, or a comma-separated list) names the architectures to
# build for: the machine's own (the default), arm64 and armhf, which are
# cross-built (dpkg-buildpackage -a) against the sysroot of
# scripts/cross-deps.sh. With more than one, the packages of every
# architecture must hold the same files but for the architecture's name.
# Environment:
#   LUMORA_PACKAGE_JOBS=N   parallel compile jobs (default: nproc)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$root/build-deb
dist=$root/dist
jobs=${LUMORA_PACKAGE_JOBS:-$(nproc)}

log() { echo "package: $*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_updated=0
apt_install() {  # apt_install ARGS...: apt-get install, the lists refreshed once
  export DEBIAN_FRONTEND=noninteractive
  if [ "$apt_updated" = 0 ]; then
    as_root apt-get update -qq
    apt_updated=1
  fi
  as_root apt-get install -y -qq --no-install-recommends "$@" > /dev/null
}

install_tools() {
  local p missing=()
  for p in dpkg-dev debhelper fakeroot lintian build-essential git; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    apt_install "${missing[@]}"
  fi
}

# install_build_deps PROFILES: the Build-Depends of debian/control.
install_build_deps() {
  local profiles=$1
  if dpkg-checkbuilddeps ${profiles:+-P"$profiles"} debian/control 2> /dev/null; then
    return 0
  fi
  log "installing the build dependencies"
  export DEBIAN_FRONTEND=noninteractive
  [ "$apt_updated" = 1 ] || { as_root apt-get update -qq; apt_updated=1; }
  as_root apt-get build-dep -y -qq --no-install-recommends \
    ${profiles:+-P "$profiles"} "$root" > /dev/null
}

# copy_tree DEST: the source tree without build output.
copy_tree() {
  local dest=$1
  mkdir -p "$dest"
  if git -C "$root" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    # Tracked and new files; files deleted in the work tree are skipped.
    git -C "$root" ls-files -z --cached --others --exclude-standard \
      | while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done \
      | tar -C "$root" --null -T - -cf - | tar -C "$dest" -xf -
  else
    tar -C "$root" --exclude='./build*' --exclude=./dist --exclude=./out \
      --exclude=./.git -cf - . | tar -C "$dest" -xf -
  fi
}

# build_arch ARCH VERSION PROFILES: the packages of one architecture into
# $dist.
build_arch() {
  local arch=$1 version=$2 profiles=$3 cross=() sysroot=""
  local here=$work/$arch
  if [ "$arch" != "$native" ]; then
    sysroot=$(bash "$root/scripts/cross-deps.sh" "$arch" | tail -n 1)
    # -d: the target's libraries are in the sysroot, not installed.
    cross=(-a"$arch" -d)
  fi
  log "building version $version for $arch${profiles:+ (profile $profiles)} in $here"
  rm -rf "$here"
  local src=$here/lumora-driver-$version
  copy_tree "$src"
  if ! (cd "$src" && LUMORA_CROSS_SYSROOT=$sysroot DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
          dpkg-buildpackage -b -uc -us "${cross[@]}" ${profiles:+-P"$profiles"}) > "$here/build.log" 2>&1; then
    tail -n 60 "$here/build.log"
    log "dpkg-buildpackage failed (whole log: $here/build.log)"
    return 1
  fi
  local f
  for f in "$here"/*.deb "$here"/*.ddeb "$here"/*.buildinfo "$here"/*.changes; do
    [ -e "$f" ] && mv "$f" "$dist/"
  done
  rm -rf "$src"
  log "lintian ($arch)"
  lintian --fail-on error "$dist"/*_"$arch".changes
}

# file_list DEB: its files, the architecture's names made alike.
file_list() {
  dpkg-deb -c "$1" | awk '{print $1, $NF}' \
    | sed -E 's/(x86_64|aarch64|arm)-linux-gnu(eabihf)?/TRIPLET/g'
}

# same_files ARCH...: every package holds the same files on each
# architecture (the debug symbols: as many files).
same_files() {
  local first=$1 arch deb other rc=0
  shift
  for deb in "$dist"/*_"$first".deb; do
    for arch in "$@"; do
      other=${deb%_"$first".deb}_$arch.deb
      if [ ! -e "$other" ]; then
        log "no $(basename "$other")"
        rc=1
      elif [[ $deb == *-dbgsym_* ]]; then
        [ "$(dpkg-deb -c "$deb" | wc -l)" = "$(dpkg-deb -c "$other" | wc -l)" ] || {
          log "$(basename "$deb") and $(basename "$other") differ in their number of files"
          rc=1
        }
      elif ! diff <(file_list "$deb") <(file_list "$other") > "$work/files.diff"; then
        log "$(basename "$deb") and $(basename "$other") hold other files:"
        cat "$work/files.diff"
        rc=1
      fi
    done
  done
  [ $rc = 0 ] && log "the packages of $first and $* hold the same files"
  return $rc
}

main() {
  local arches=() a
  while [ $# -gt 0 ]; do
    case "$1" in
      --arch) [ $# -ge 2 ] || { echo "package: --arch needs an architecture" >&2; return 2; }
              IFS=, read -ra a <<< "$2"; arches+=("${a[@]}"); shift 2 ;;
      --arch=*) IFS=, read -ra a <<< "${1#--arch=}"; arches+=("${a[@]}"); shift ;;
      *) echo "usage: package.sh [--arch amd64|arm64|armhf]..." >&2; return 2 ;;
    esac
  done
  native=$(dpkg --print-architecture)
  [ ${#arches[@]} -gt 0 ] || arches=("$native")
  for a in "${arches[@]}"; do
    case "$a" in
      "$native"|arm64|armhf) ;;
      *) echo "package: cannot build for $a (only $native, arm64 and armhf)" >&2; return 2 ;;
    esac
  done

  install_tools
  local version profiles=""
  version=$(dpkg-parsechangelog -l debian/changelog -S Version)
  [ -f printer_app/CMakeLists.txt ] || profiles=pkg.lumora.noapp
  install_build_deps "$profiles"

  rm -rf "$work" "$dist"
  mkdir -p "$work" "$dist"
  for a in "${arches[@]}"; do
    build_arch "$a" "$version" "$profiles"
  done
  [ ${#arches[@]} -lt 2 ] || same_files "${arches[@]}"
  log "packages in dist/:"
  (cd "$dist" && ls -1 -- *.deb)
}

main "$@"
