#!/usr/bin/env bash
# The engine's unit tests, cross-built for 64-bit Windows, under Wine: the
# Win32 counter, yield and thread code runs for real.
#
#   tests/wine/engine_tests.sh ENGINE_TESTS_EXE
exe=$(realpath "$1")
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
start_wine_session
"$WINE64" "$exe" --gtest_brief=1
