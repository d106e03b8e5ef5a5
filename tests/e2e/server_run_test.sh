#!/usr/bin/env bash
# The real-time mode inside jackd or inside PipeWire, with its dummy driver
# in a private runtime folder: a short run's structure (periods counted,
# misses counted, our load beside the server's), never a timing; then the
# run's end when the server goes away, changes its buffer size, or we are
# stopped, and what happens with no server at all. Status 77 (skipped), with
# the reason, when the server cannot start here.
#
#   tests/e2e/server_run_test.sh CLI jackd|pipewire
cli=$1
kind=$2
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=../audio_servers.sh
source "$(dirname "$0")/../audio_servers.sh"
SKIP=77

# one_line STATUS EXPECTED FILE WHAT: the exit status, and one line on stderr.
one_line() {
    [ "$1" -eq "$2" ] || fail "$4: exit status $1, not $2"
    [ "$(wc -l <"$3")" -eq 1 ] || fail "$4: not one line: $(cat "$3")"
}

# no_server: a runtime folder and a server name where nothing runs.
no_server() {
    XDG_RUNTIME_DIR=$WORK JACK_DEFAULT_SERVER=zem_none_$$ "${server_cmd[@]}" "$cli" realtime \
        --server jack 2>"$WORK/err"
}
if no_server && grep -q 'not available' "$WORK/err"; then
    echo "SKIP: this test_zem_cli has no --server jack: $(cat "$WORK/err")"
    exit "$SKIP"
fi
"start_$kind" 1024 48000 || { echo "SKIP: $server_problem" && exit "$SKIP"; }
no_server
one_line $? 1 "$WORK/err" "no $kind running"

# 1 s of idle system at 1024 frames, 48000 Hz: 47 periods.
check_structure() {
    server_run "$cli" realtime --server jack --tests ZEM-2 --idle 1 --confirm 1 --json \
        --svg "$WORK/run.svg" >"$WORK/run.json" 2>"$WORK/err" || fail "$server_kind: $(cat "$WORK/err")"
    # shellcheck disable=SC2016 # $f is jq's
    beside='.server | (.our_load_percent | .mean >= 0 and .max >= .mean)
        and (.load_percent | .mean >= 0 and .max >= .mean) and .xruns >= 0
        and (.missed_by_stated_end == null or .missed_by_stated_end <= $f.periods)'
    jq -e ".plan | .clock == \"jack\" and .buffers == [1024] and .rate == 48000 and .output == null" \
        "$WORK/run.json" >/dev/null || fail "$server_kind: plan: $(jq -c .plan "$WORK/run.json")"
    jq -e ".failure == null and (.setup.priority.note | test(\"server's thread\"))
      and (.runs | length == 1) and (.runs[0] | .cores == 1 and .processors == []
        and .idle.periods == 47 and .idle.missed <= 47 and (.idle as \$f | .idle | ($beside))
        and (.tests.zem2 | .state != \"done\" or .streams == 0 or (.hold as \$f
          | .hold | .periods == 47 and .missed <= .allowance and ($beside))))" "$WORK/run.json" >/dev/null ||
        fail "$server_kind: report: $(jq -c .runs "$WORK/run.json")"
    grep -q "In the JACK server's cycle: our load" "$WORK/run.svg" || fail "$server_kind: picture"
}

# A chain of our test plugins in the server's cycle: its instances are
# searched there like streams (the bundle beside the build's tests).
check_plugins() {
    local bundle
    bundle=$(dirname "$(dirname "$cli")")/tests/lv2
    [ -d "$bundle" ] || return 0
    LV2_PATH=$bundle server_run "$cli" realtime --server jack --plugin urn:zem-test:gain \
        --idle 1 --confirm 1 --json >"$WORK/plugins.json" 2>"$WORK/err" ||
        fail "$server_kind, plugins: $(cat "$WORK/err")"
    jq -e '.plan.loads[0].name == "ZEM test gain" and (.runs[0] | .verdict != "sustainable"
      or (.tests.plugins1 | .trials > 0 and .kernel_bound > 0))' "$WORK/plugins.json" \
        >/dev/null || fail "$server_kind, plugins: $(jq -c .runs "$WORK/plugins.json")"
}

# midrun STATUS PATTERN ACTION...: a long idle run, ACTION once our port is
# in the server's graph; the run must end within 5 s with STATUS, its JSON
# printed, and for status 1 one line on stderr matching PATTERN.
midrun() {
    local status expected=$1 pattern=$2
    shift 2
    "${server_cmd[@]}" "$cli" realtime --server jack --tests ZEM-1 --idle 60 --json \
        >"$WORK/mid.json" 2>"$WORK/err" &
    program=$!
    started_pids+=("$program")
    wait_until 20 eval 'server_run jack_lsp 2>/dev/null | grep -q test_zem_cli:out' ||
        fail "$server_kind: our port never showed"
    "$@"
    if ! wait_until 5 process_gone "$program"; then
        fail "$server_kind, $*: still running 5 s after"
        return
    fi
    wait "$program"
    status=$?
    [ "$expected" -ne 1 ] || one_line "$status" 1 "$WORK/err" "$server_kind, $*"
    [ "$status" -eq "$expected" ] || fail "$server_kind, $*: exit status $status"
    [ -z "$pattern" ] || grep -q "$pattern" "$WORK/err" || fail "$server_kind, $*: $(cat "$WORK/err")"
    jq -e '.signal == 15 or (.failure | length > 0)' "$WORK/mid.json" >/dev/null ||
        fail "$server_kind, $*: no report"
}
stop_program() { kill -TERM "$program"; }
# jackd ends in order on SIGTERM; killed, it would keep one of its 8
# registry slots (/dev/shm/jack-shm-registry) for good. PipeWire is killed.
stop_server_now() { kill "-$([ "$server_kind" = jackd ] && echo TERM || echo KILL)" "$server_pid"; }

check_structure
check_plugins
server_run "$cli" realtime --server jack --buffers 512 2>"$WORK/err"
one_line $? 1 "$WORK/err" "$kind at 1024 asked for 512"
midrun 143 '' stop_program
midrun 1 'changed its buffer size from 1024 to 512' server_set_buffer 512
"start_$kind" 1024 48000 || fail "$kind did not start again"
midrun 1 'stopped during the run' stop_server_now
finish "server run, $kind"
