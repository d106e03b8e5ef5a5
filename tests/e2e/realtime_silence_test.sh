#!/usr/bin/env bash
# The thread that keeps the periods only sleeps, works and records: in a
# run where every period misses, strace finds no openat, open, mmap or brk
# from it once its first period's sleep began. The measuring threads are
# those raised to SCHED_FIFO that slept through many periods.
#
#   tests/e2e/realtime_silence_test.sh CLI
cli=$1
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK

if ! command -v strace >/dev/null; then
    echo "strace is not installed"
    exit 77
fi
# 40000 streams of ZEM-1 at 256 samples are three times what a core here
# filters in a period: every period misses, and with every period allowed
# to miss the hold runs its whole length.
strace -f -qq -o "$work/trace" -e trace=openat,open,mmap,brk,clock_nanosleep,sched_setscheduler \
    "$cli" realtime --buffers 256 --tests ZEM-1 --cores 1 --streams 40000 --confirm 1 --idle 0.5 \
    --allowed-misses 1 --json >"$work/run.json" 2>"$work/run.err"
status=$?
[ "$status" -eq 0 ] || fail "the run exited $status: $(cat "$work/run.err")"
jq -e '.runs[0] | .verdict != "sustainable" or (.tests.zem1.hold.missed > 100)' \
    "$work/run.json" >/dev/null || fail "not every period missed: $(jq -c '.runs[0].tests' "$work/run.json")"

# For each thread raised to SCHED_FIFO with 100 sleeps or more: the calls
# named after its first sleep.
awk '
  /sched_setscheduler\(.*SCHED_FIFO/ { fifo[$1] = 1 }
  /clock_nanosleep/ { sleeps[$1]++; asleep[$1] = 1; next }
  /(openat|open|mmap|brk)\(/ { if (asleep[$1]) calls[$1]++ }
  END {
    threads = 0
    for (tid in fifo) {
      if (sleeps[tid] < 100) continue
      threads++
      printf "thread %s: %d sleeps, %d openat/open/mmap/brk after the first\n", tid, sleeps[tid], calls[tid] + 0
      if (calls[tid] > 0) bad = 1
    }
    if (threads == 0) { print "no measuring thread found"; exit 2 }
    exit bad
  }' "$work/trace" >"$work/verdict" || fail "$(cat "$work/verdict"); $(grep -E 'openat|mmap|brk' "$work/trace" | head -5)"
cat "$work/verdict"

finish "real-time thread's silence"
