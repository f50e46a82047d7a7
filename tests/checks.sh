# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the shell tests: counts checks and says each verdict (CHECKS_QUIET=1: failures only).
PASSED=0
FAILED=0
pass() { PASSED=$((PASSED + 1)); [ -n "${CHECKS_QUIET:-}" ] || echo "PASS: $*"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $*"; }
# check NAME COMMAND...: one check, passed when the command succeeds.
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; fi; }
# summary [WHAT]: "WHAT: N passed, M failed"; true when nothing failed.
summary() { echo "${1:+$1: }$PASSED passed, $FAILED failed"; [ "$FAILED" -eq 0 ]; }
