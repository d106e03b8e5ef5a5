#!/usr/bin/env bash
# The 64-bit test_zem_cli.exe under Wine: its real-time mode, checked as the
# Linux build's is (tests/e2e/realtime_run_test.sh), Ctrl-C included.
#
#   tests/wine/cli_realtime_test.sh EXE
set -uo pipefail
exe=$(realpath "$1")
here=$(dirname "$0")
source "$here/wine_session.sh"
trap sessions_end EXIT
wine_session_start
"$here/../e2e/realtime_run_test.sh" "$exe" "$WINE64"
