#!/usr/bin/env bash
# The 64-bit test_zem_cli.exe under Wine: its real-time mode, checked as the
# Linux build's is (tests/e2e/realtime_run_test.sh), Ctrl-C included.
#
#   tests/wine/cli_realtime_test.sh EXE
exe=$(realpath "$1")
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
start_wine_session
"$(dirname "$0")/../e2e/realtime_run_test.sh" "$exe" "$WINE64"
