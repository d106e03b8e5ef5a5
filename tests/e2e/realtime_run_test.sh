#!/usr/bin/env bash
# A real run of the real-time mode: buffer 4096, ZEM-2 on one core, 2 s
# holds. Checks the report's structure and its honesty, never a timing: the
# count that plays never exceeds the search's ceiling (1.5 times the
# kernel-alone bound), a test is searched only where the idle system held,
# and a count is given only with the hold it rests on, which missed no more
# periods than its allowance; a search in which no hold played says so,
# beside the hold that failed (stops: realtime_stop_test.sh).
#
#   tests/e2e/realtime_run_test.sh CLI [RUNNER...]
#
# RUNNER, when given, runs CLI (the Wine loader for the Windows build).
cli=$1
shift
runner=("$@")
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK

"${runner[@]}" "$cli" realtime --buffers 4096 --tests ZEM-2 --cores 1 --confirm 2 --idle 1 \
    --json --svg "$work/run.svg" >"$work/run.json" 2>"$work/run.err"
status=$?
[ "$status" -eq 0 ] || fail "the run exited $status: $(cat "$work/run.err")"
ordered='.p50 <= .p99 and .p99 <= .p999 and .p999 <= .max'
jq -e "
  (.machine | (.processor | length > 0) and .physical_cores >= 1 and (.bits == 32 or .bits == 64))
  and .mode == \"realtime\" and .signal == null and .failure == null
  and (.setup | .memory_lock.note and .priority.note and .timer.note)
  and (.runs | length == 1) and (.runs[0] | .buffer == 4096 and .cores == 1
    and (.idle.processing_ns | $ordered) and (.idle.lateness_ns | $ordered)
    and (if .verdict == \"sustainable\" and .tests.zem2.state == \"none plays\" then
           .tests.zem2 | .plays == null and .hold.missed > .hold.allowance
         elif .verdict == \"sustainable\" then
           .tests.zem2 | .state == \"done\" and .search_bound <= .kernel_bound * 3 / 2
             and .kernel_bound > 0 and .plays <= .search_bound and .headroom <= .plays
             and .streams == .plays and (.per_core | add) == .plays
             and .hold.streams == .plays and .hold.missed <= .hold.allowance
             and .hold.periods >= 24 and (.hold.processing_ns | $ordered)
             and .hold.idle_periods > 0 and (.hold.spread | .p99 <= .p999 and .p999 <= .max)
         else .verdict == \"not sustainable at this buffer on this system\"
           and .idle.missed > 0 and .tests.zem2.state == \"not run\" and .tests.zem2.streams == null
         end)
    and ([.idle, .tests.zem2.hold | select(. != null) | (.misses
           | .work + .late_wakeup + .preempted + .throttled + .unknown) == .missed] | all)
    and (.dropouts | .per_minute >= 0 and .minutes > 0) and (.summary | startswith(\"4096 samples\")))
  and (.readiness | length > 0 and all(.state == \"ok\" or .state == \"warn\" or .state == \"unknown\"))
  " "$work/run.json" >/dev/null || fail "report: $(cat "$work/run.json")"

# A fixed load: does it fit? No search, the count asked for, a yes or a no.
"${runner[@]}" "$cli" realtime --buffers 4096 --tests ZEM-M --cores 1 --streams 100 --confirm 1 \
    --idle 0.5 --json >"$work/fixed.json" 2>"$work/fixed.err" || fail "--streams: $(cat "$work/fixed.err")"
jq -e '.plan.streams == 100 and (.runs[0] | .verdict != "sustainable"
  or (.tests.zemm | .asked == 100 and .trials == 2 and .hold.streams == 100
    and (if .state == "plays" then .plays == 100 and .hold.missed <= .hold.allowance
         else .state == "does not play" and .plays == null and .hold.missed > .hold.allowance
         end)))' \
    "$work/fixed.json" >/dev/null || fail "--streams: $(cat "$work/fixed.json")"

rows=$(jq '[.runs[] | .idle, (.tests[] | .hold) | select(. != null)] | length' "$work/run.json")
panels=$(grep -c '<g class="panel"' "$work/run.svg")
[ "$panels" -eq $((2 * rows)) ] || fail "picture: $panels panels for $rows runs"
tail -n 1 "$work/run.svg" | tr -d '\r' | grep -qx '</svg>' || fail "picture: not closed"

finish "realtime run"
