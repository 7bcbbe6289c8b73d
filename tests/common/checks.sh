# SPDX-License-Identifier: GPL-2.0-or-later
# Checks of the shell tests: each prints one "ok:" or "FAIL:" line and is
# counted; a test script sources this file and ends with a non-zero status
# when FAILURES is above zero.
FAILURES=0
CHECKS=0

fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
  CHECKS=$((CHECKS + 1))
}
pass() {
  echo "ok: $*"
  CHECKS=$((CHECKS + 1))
}
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
