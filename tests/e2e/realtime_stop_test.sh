#!/usr/bin/env bash
# A stop in every kind of trial the real-time mode runs: the idle system,
# the idle system with deep idle states allowed, a short trial of the
# search, a hold, and a fixed count. Each run is stopped once its
# progress line names the trial, by SIGINT or SIGTERM, and must end with
# 130 or 143 after printing what it measured.
#
#   tests/e2e/realtime_stop_test.sh CLI
cli=$1
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK

# shown_or_ended PATTERN FILE PID: the line is there, or the run is over.
shown_or_ended() {
    grep -q -- "$1" "$2" || process_gone "$3"
}

# stop_in NAME SIGNAL STATUS PATTERN ARGS...: runs the mode with ARGS,
# sends SIGNAL once a progress line matches PATTERN, expects STATUS.
stop_in() {
    local name=$1 signal=$2 expected=$3 pattern=$4
    shift 4
    "$cli" realtime --progress --buffers 4096 --cores 1 "$@" >"$work/$name.txt" \
        2>"$work/$name.err" &
    local program=$!
    started_pids+=("$program")
    if ! wait_until 60 shown_or_ended "$pattern" "$work/$name.err" "$program"; then
        fail "$name: no progress line '$pattern' in 60 s: $(cat "$work/$name.err")"
        return
    fi
    if ! grep -q -- "$pattern" "$work/$name.err"; then
        # A busy machine's idle run can fail the gate: then no trial runs.
        grep -q "not sustainable" "$work/$name.txt" ||
            fail "$name: ended before '$pattern': $(cat "$work/$name.err")"
        echo "note: $name: the idle system missed too much here, no trial to stop"
        return
    fi
    kill "-$signal" "$program"
    if ! wait_until 30 process_gone "$program"; then
        fail "$name: still running 30 s after $signal"
        return
    fi
    wait "$program"
    local status=$?
    [ "$status" -eq "$expected" ] || fail "$name: exit status $status, not $expected"
    tr -d '\r' <"$work/$name.txt" | grep -q '^Machine$' || fail "$name: no machine block"
    grep -q "Stopped by signal" "$work/$name.txt" || fail "$name: $(cat "$work/$name.txt")"
}

stop_in idle INT 130 'idle system, ' --tests ZEM-1 --idle 20
stop_in idle_states INT 130 'deep idle states allowed' --tests ZEM-1 --idle 10
stop_in short TERM 143 'trial 1, ' --tests ZEM-2 --idle 0.5 --confirm 20
stop_in hold INT 130 '(hold)' --tests ZEM-1 --idle 0.5 --confirm 8
stop_in fixed TERM 143 'trial 1, 100 streams' --tests ZEM-M --streams 100 --idle 0.5 --confirm 8

finish "realtime stops"
