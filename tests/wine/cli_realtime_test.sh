#!/usr/bin/env bash
# The 64-bit test_zem_cli.exe under Wine: its real-time mode, checked as the
# Linux build's is (tests/e2e/realtime_run_test.sh), Ctrl-C included, and
# its readiness check.
#
#   tests/wine/cli_realtime_test.sh EXE
exe=$(realpath "$1")
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
start_wine_session
"$(dirname "$0")/../e2e/realtime_run_test.sh" "$exe" "$WINE64" || fail "the real-time run"

# The readiness check: exit 0, and the Windows items Wine cannot give say so.
"$WINE64" "$exe" check --json >"$WORK/check.json" 2>/dev/null || fail "check exited $?"
jq -e '.mode == "check" and (.readiness | length > 0)
  and any(.readiness[]; .state == "unknown" and (.value | test("Wine")))' "$WORK/check.json" \
    >/dev/null || fail "check: $(cat "$WORK/check.json")"
finish "readiness check under Wine"
