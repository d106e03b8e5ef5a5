#!/usr/bin/env bash
# The engine's unit tests, cross-built for 64-bit Windows, under Wine: the
# Win32 counter, yield and thread code runs for real.
#
#   tests/wine/engine_tests.sh ENGINE_TESTS_EXE
set -uo pipefail
exe=$(realpath "$1")
source "$(dirname "$0")/wine_session.sh"
trap sessions_end EXIT
wine_session_start
"$WINE64" "$exe" --gtest_brief=1
