#!/usr/bin/env bash
# Plugin code runs in children of the real-time mode: a plugin that hangs
# in instantiate is killed and named once its stage's allowance (10 s) is
# up, and the run ends with its verdict; SIGTERM while it hangs ends the
# run with 143 at once, its child gone with it; what plugins print stays
# out of --json's document and shows in the logs; a plugin whose library
# cannot be loaded twice in one process plays its trials.
#
#   tests/e2e/realtime_children_test.sh CLI LV2_PATH
cli=$1
export LV2_PATH=$2
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK
short=(--buffers 1024 --cores 1 --confirm 0.5 --idle 0.5)
hang=urn:zem-test:hang-open

timeout -k 5 60 "$cli" realtime --plugin "$hang" "${short[@]}" >"$work/hang.txt" \
    2>"$work/hang.err"
status=$?
[ "$status" -eq 1 ] || fail "a hang: exit status $status, not 1: $(cat "$work/hang.err")"
grep -q 'ZEM test hang in instantiate: failed: no answer in instantiate after 10 s, killed' \
    "$work/hang.err" || fail "the hang is not named: $(cat "$work/hang.err")"

# child_of PID: a child of the process, its id left in $child.
child_of() {
    child=$(awk -v parent="$1" '/^PPid:/ && $2 == parent { split(FILENAME, path, "/");
        print path[3]; exit }' /proc/[0-9]*/status 2>/dev/null)
    [ -n "$child" ]
}
"$cli" realtime --plugin "$hang" "${short[@]}" >"$work/stop.txt" 2>"$work/stop.err" &
program=$!
started_pids+=("$program")
child=""
if wait_until 10 child_of "$program"; then
    kill -TERM "$program"
    wait_until 5 process_gone "$program" || fail "still running 5 s after SIGTERM"
    wait "$program"
    status=$?
    [ "$status" -eq 143 ] || fail "SIGTERM: exit status $status, not 143: $(cat "$work/stop.err")"
    process_gone "$child" || fail "its child $child outlived it"
    grep -q "Stopped by signal" "$work/stop.txt" || fail "SIGTERM: $(cat "$work/stop.txt")"
else
    fail "no child of the run in 10 s"
fi

"$cli" realtime --plugin urn:zem-test:print --plugin urn:zem-test:reload --streams 2 \
    "${short[@]}" --json >"$work/print.json" 2>"$work/print.err"
status=$?
[ "$status" -eq 0 ] || fail "print and reload: exit status $status: $(cat "$work/print.err")"
jq -e . "$work/print.json" >/dev/null || fail "not JSON: $(head -c 300 "$work/print.json")"
if grep -q "ZEM test print:" "$work/print.err"; then
    fail "a plugin's print on our standard error: $(cat "$work/print.err")"
fi
jq -e '(.plan.loads[0] | .validation != "failed" and (.log | test("instantiated at 48000 Hz"))
    and (.wiring | test("ZEM test print")))
  and (.plan.loads[1].log == null)
  and (.runs[0] | .verdict != "sustainable" or (.tests
    | (.plugins1.log | test("printed: (.|\n)*first run, 1024 frames"))
    and (.plugins2 | .failure == null and (.state == "plays" or .state == "does not play"))))' \
    "$work/print.json" >/dev/null ||
    fail "report: $(jq -c '{loads: .plan.loads, tests: .runs[0].tests | map_values({state, failure, log})}' "$work/print.json")"

finish "real-time plugin children"
