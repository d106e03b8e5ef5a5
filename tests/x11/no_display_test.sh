#!/usr/bin/env bash
# Without an X display test_zem says so in one line on stderr and exits 1.
set -u
app=$1
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

for display in "" ":4095.0" "not a display"; do
    if [ -z "$display" ]; then
        env -u DISPLAY "$app" --ignored >"$out" 2>"$err"
    else
        DISPLAY=$display "$app" >"$out" 2>"$err"
    fi
    status=$?
    [ "$status" -eq 1 ] || fail "DISPLAY='$display': exit status $status, not 1"
    [ "$(wc -l <"$err")" -eq 1 ] || fail "DISPLAY='$display': not one line: $(cat "$err")"
    grep -q 'display' "$err" || fail "DISPLAY='$display': does not say why: $(cat "$err")"
    [ -s "$out" ] && fail "DISPLAY='$display': wrote to stdout"
done
echo "no display: $failures failed"
[ "$failures" -eq 0 ]
