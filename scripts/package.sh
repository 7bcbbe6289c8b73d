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
# Build-Depends of debian/control). Environment:
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

main() {
  install_tools
  local version profiles=""
  version=$(dpkg-parsechangelog -l debian/changelog -S Version)
  [ -f printer_app/CMakeLists.txt ] || profiles=pkg.lumora.noapp
  install_build_deps "$profiles"

  log "building version $version${profiles:+ (profile $profiles)} in $work"
  rm -rf "$work"
  local src=$work/lumora-driver-$version
  copy_tree "$src"
  if ! (cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
          dpkg-buildpackage -b -uc -us ${profiles:+-P"$profiles"}) > "$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log"
    log "dpkg-buildpackage failed (whole log: $work/build.log)"
    return 1
  fi

  rm -rf "$dist"
  mkdir -p "$dist"
  local f
  for f in "$work"/*.deb "$work"/*.ddeb "$work"/*.buildinfo "$work"/*.changes; do
    [ -e "$f" ] && mv "$f" "$dist/"
  done
  rm -rf "$src"

  log "lintian"
  lintian --fail-on error "$dist"/*.changes
  log "packages in dist/:"
  (cd "$dist" && ls -1 -- *.deb)
}

main "$@"
