#!/usr/bin/env bash
# Chains of our own test plugins in the real-time mode: a command line that
# names what is not installed, or a setting (out of range, not finite, hex)
# or preset no plugin takes, is refused before anything runs (exit 2); a
# chain that crashes a few hundred periods into a trial fails alone (exit
# 1, its line naming the signal) while the gain beside it is measured;
# validation fails a chain that writes NaN before any trial and flags one
# that opens a file in run; --streams runs a fixed count of a chain of two.
# Structure only.
#
#   tests/e2e/realtime_plugins_test.sh CLI LV2_PATH
cli=$1
export LV2_PATH=$2
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK

# refused ARGS...: exit status 2 and one line on stderr, left in $err, with
# nothing measured: no step shown, no report, no picture.
refused() {
    local status
    err=$(timeout 60 "$cli" realtime "$@" --buffers 1024 --cores 1 --confirm 0.5 --idle 0.5 \
        --progress --svg "$work/refused.svg" 2>&1 >"$work/refused.out")
    status=$?
    [ "$status" -eq 2 ] || fail "$*: exit status $status, not 2: $err"
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "$*: not one line: $err"
    if [ -s "$work/refused.out" ] || [ -e "$work/refused.svg" ]; then
        fail "$*: a report was written"
    fi
}
gain=urn:zem-test:gain
refused --plugin urn:zem-test:none
refused --plugin "$gain" --set volume=1
refused --plugin "$gain" --set 2:gain=1
for value in 3 nan inf 1e400 0x10; do
    refused --plugin "$gain" --set "gain=$value"
done
refused --plugin "$gain" --preset urn:no:such:preset
refused --plugin "urn:$(head -c 10000 /dev/zero | tr '\0' x)"
[ "${#err}" -lt 200 ] || fail "a long URI is echoed whole: ${#err} characters"

"$cli" realtime --plugin urn:zem-test:crash-later --plugin urn:zem-test:gain \
    --plugin urn:zem-test:nan --plugin urn:zem-test:file --buffers 1024 --cores 1 --confirm 1 \
    --idle 0.5 --json >"$work/run.json" 2>"$work/run.err"
status=$?
[ "$status" -eq 1 ] || fail "a failed load: exit status $status, not 1: $(cat "$work/run.err")"
if jq -e '.runs[0].verdict == "sustainable"' "$work/run.json" >/dev/null; then
    grep -q 'ZEM test crash later: failed: crashed with signal' "$work/run.err" ||
        fail "no line for the chain that crashed in a trial: $(cat "$work/run.err")"
fi
grep -q 'ZEM test NaN: failed' "$work/run.err" || fail "no line for NaN: $(cat "$work/run.err")"
jq -e '.schema_version == 4
  and ([.plan.loads[] | .key] == ["plugins1", "plugins2", "plugins3", "plugins4"])
  and (.plan.loads[0] | .uris == ["urn:zem-test:crash-later"] and .validation == "passed")
  and (.plan.loads[2] | .validation == "failed" and (.failure | test("NaN")))
  and (.plan.loads[3] | .validation == "flagged" and (.flags | test("file")))
  and (.runs[0] | .verdict != "sustainable" or (.tests
    | (.plugins1 | .state == "failed" and .crash_signal > 0)
    and (.plugins2 | .trials > 0 and (.state == "done" or .state == "none plays"))
    and (.plugins3 | .state == "failed" and .trials == 0)
    and (.plugins4 | .trials > 0)))' "$work/run.json" >/dev/null ||
    fail "report: $(jq -c '{loads: .plan.loads, tests: .runs[0].tests | map_values({state, streams, trials, crash_signal})}' "$work/run.json")"

"$cli" realtime --plugin urn:zem-test:gain+urn:zem-test:stereo --streams 8 --buffers 1024 \
    --cores 1 --confirm 1 --idle 0.5 --json >"$work/fixed.json" 2>"$work/fixed.err" ||
    fail "--streams: $(cat "$work/fixed.err")"
jq -e '.plan.loads[0].name == "ZEM test gain + ZEM test stereo gain"
  and (.runs[0] | .verdict != "sustainable"
    or (.tests.plugins1 | .asked == 8 and (.state == "plays" or .state == "does not play")))' \
    "$work/fixed.json" >/dev/null || fail "--streams: $(cat "$work/fixed.json")"

finish "real-time plugin loads"
