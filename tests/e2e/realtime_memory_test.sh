#!/usr/bin/env bash
# A plugin that takes 64 MB an instance under --memory 1: its instances are
# opened in steps, the limit stops the search below what the ceiling would
# have opened, and the report says so with the count that played, in the
# text and in --json; a bad --memory exits 2 before anything runs.
#
#   tests/e2e/realtime_memory_test.sh CLI LV2_PATH
cli=$1
export LV2_PATH=$2
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK
short=(--plugin urn:zem-test:hungry --buffers 1024 --cores 1 --confirm 0.5 --idle 0.5)

"$cli" realtime "${short[@]}" --memory -1 >"$work/bad.txt" 2>&1
status=$?
[ "$status" -eq 2 ] || fail "--memory -1: exit status $status, not 2: $(cat "$work/bad.txt")"

timeout -k 5 120 "$cli" realtime "${short[@]}" --memory 1 >"$work/run.txt" 2>"$work/run.err"
status=$?
grep -q 'limit: *1.0 GB for each plugin load.s process (--memory)' "$work/run.txt" ||
    fail "no limit in the set-up: $(head -20 "$work/run.txt")"
# A busy host may leave the buffer size unsustainable: then no load runs.
if [ "$status" -eq 0 ] && ! grep -q "not sustainable at this buffer" "$work/run.txt"; then
    grep -Eq '[0-9]+ plays: the memory limit stopped the search \(used [0-9.]+ GB at [0-9]+ instances; [0-9,]+ would not fit\)' \
        "$work/run.txt" || fail "the limit is not named: $(cat "$work/run.txt")"
elif [ "$status" -ne 0 ]; then
    fail "exit status $status: $(cat "$work/run.err")"
fi

timeout -k 5 120 "$cli" realtime "${short[@]}" --memory 1 --json >"$work/run.json" 2>"$work/json.err"
status=$?
[ "$status" -eq 0 ] || fail "--json: exit status $status: $(cat "$work/json.err")"
jq -e '.plan.memory_limit_bytes == 1000000000 and (.runs[0] | .verdict != "sustainable"
    or (.tests.plugins1 | .state == "done" and .model.end == "memory" and .memory_refused_at > .streams
      and .memory_used_bytes > 0 and (.median_gap | test("the memory limit"))))' \
    "$work/run.json" >/dev/null ||
    fail "report: $(jq -c '{plan: .plan.memory_limit_bytes, tests: .runs[0].tests}' "$work/run.json" | head -c 1500)"

finish "real-time memory limit"
