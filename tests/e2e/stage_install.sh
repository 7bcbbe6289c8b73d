#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The install rules: `cmake --install` into a DESTDIR puts both filters into
# CUPS's filter directory (0755), every PPD into the PPD directory and the
# programs' manual pages into section 1, and the uninstall target takes all of it away again.  Leaves the staged driver in
# STAGE for the end-to-end tests.
#   stage_install.sh BUILD_DIR STAGE FILTER_DIR PPD_DIR PPD_COUNT
set -euo pipefail
build=$1 stage=$2 filter_dir=$3 ppd_dir=$4 ppd_count=$5
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

check_tree() {  # check_tree ROOT
  local root=$1 f
  for f in rastertoLumora pstoLumora; do
    if [ ! -x "$root$filter_dir/$f" ]; then
      fail "$f not installed in $filter_dir"
    elif [ "$(stat -c %a "$root$filter_dir/$f")" != 755 ]; then
      fail "$f is not mode 0755"
    fi
  done
  local n
  n=$(find "$root$ppd_dir" -name 'Lumora-*.ppd' 2>/dev/null | wc -l)
  [ "$n" -eq "$ppd_count" ] || fail "$n PPD files in $ppd_dir, expected $ppd_count"
  for f in lumora-inspect lumora-printer-app; do  # the programs built, with their pages
    [ ! -x "$build/bin/$f" ] || [ -n "$(find "$root" -path "*/man/man1/$f.1")" ] \
      || fail "manual page of $f not installed"
  done
}

# Install and uninstall in a scratch tree first (the manifest is then
# rewritten by the final install below).
scratch="$stage.uninstall"
rm -rf "$stage" "$scratch"
DESTDIR="$scratch" cmake --install "$build" > /dev/null
check_tree "$scratch"
DESTDIR="$scratch" cmake --build "$build" --target uninstall > /dev/null
left=$(find "$scratch" -type f | wc -l)
[ "$left" -eq 0 ] || fail "uninstall left $left files: $(find "$scratch" -type f | head -3)"
[ ! -d "$scratch$ppd_dir" ] || fail "uninstall left the PPD directory"
rm -rf "$scratch"

DESTDIR="$stage" cmake --install "$build" > /dev/null
check_tree "$stage"
[ "$failures" -eq 0 ] && echo "ok: install and uninstall"
exit $((failures > 0))
