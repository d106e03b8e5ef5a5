#!/usr/bin/env bash
# Without an X display test_zem says so in one line on stderr and exits 1.
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
app=$1
for display in "" ":4095.0" "not a display"; do
    if [ -z "$display" ]; then
        env -u DISPLAY "$app" --ignored >"$WORK/out" 2>"$WORK/err"
    else
        DISPLAY=$display "$app" >"$WORK/out" 2>"$WORK/err"
    fi
    status=$?
    [ "$status" -eq 1 ] || fail "DISPLAY='$display': exit status $status, not 1"
    [ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "DISPLAY='$display': not one line: $(cat "$WORK/err")"
    grep -q 'display' "$WORK/err" || fail "DISPLAY='$display': does not say why: $(cat "$WORK/err")"
    [ -s "$WORK/out" ] && fail "DISPLAY='$display': wrote to stdout"
done
finish "no display"
