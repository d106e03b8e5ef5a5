#!/usr/bin/env bash
# The console runner's answers to bad input, --help and --version, output
# that cannot be written, and a stop signal in the middle of a run.
cli=$1
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"

# fails STATUS STDOUT ARGS...: the runner, its output sent to STDOUT, exits
# with STATUS and one line on stderr, left in $err. The timeout only guards
# against a hang.
fails() {
    local expected=$1 output=$2 status
    shift 2
    err=$(timeout 60 "$cli" "$@" 2>&1 >"$output")
    status=$?
    [ "$status" -eq "$expected" ] || fail "$* exited $status, not $expected"
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "$*: not one line: $err"
}

# Each refusal's wording is checked by cli_tests; here, what the shell sees.
expect_usage_error() {
    fails 2 /dev/null "$@"
    case "$err" in *--help*) ;; *) fail "$*: does not point to --help: $err" ;; esac
}
expect_usage_error --bogus
expect_usage_error --seconds 0
expect_usage_error realtime --buffers 64,64
expect_usage_error compare a.json

# Output that cannot be written is an error, not a success.
expect_write_error() {
    fails 1 /dev/full "$@"
    case "$err" in *"could not write the standard output"*) ;; *) fail "$* > /dev/full: $err" ;; esac
}
expect_write_error --seconds 0.1 --json
expect_write_error --version
expect_write_error check
expect_write_error check --json
# The picture's file is opened before anything is measured.
fails 2 /dev/null realtime --svg /nonexistent/x.svg --buffers 4096 --confirm 0.5 --idle 0.5

"$cli" --help | grep -q -- '--seconds' || fail "--help does not describe --seconds"
"$cli" realtime --help | grep -q -- '--buffers' || fail "realtime --help does not describe --buffers"
"$cli" --version | grep -Eq '^test_zem_cli [0-9]+\.[0-9]+' || fail "--version"

# stopped_run SIGNAL AFTER STATUS ARGS...: runs the benchmark with ARGS into
# $out, sends SIGNAL after AFTER seconds and expects exit status STATUS.
out=$WORK/out
stopped_run() {
    local signal=$1 after=$2 expected=$3 pid status
    shift 3
    "$cli" "$@" >"$out" 2>/dev/null &
    pid=$!
    sleep "$after"
    kill "-$signal" "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq "$expected" ] || fail "SIG$signal: exit status $status, not $expected"
}

# SIGTERM during ZEM-2: ZEM-1's figures are printed, the rest null, status 143.
stopped_run TERM 0.8 143 --seconds 0.5 --json
grep -Eq '"zem1":\{"cycles_44100":[0-9]+' "$out" || fail "SIGTERM: ZEM-1 missing: $(cat "$out")"
grep -q '^{"schema_version":2,"mode":"throughput","machine":{"processor":' "$out" ||
    fail "SIGTERM: the version, the mode and the machine do not come first"
grep -q '"zemm":{"tracks_44100":null' "$out" || fail "SIGTERM: ZEM-M not null: $(cat "$out")"

# SIGINT during the first test of a text run: status 130, tables printed.
stopped_run INT 0.3 130 --seconds 5
grep -q 'ZEM-1 measure' "$out" || fail "SIGINT: no tables"
head -n 1 "$out" | grep -qx 'Machine' || fail "SIGINT: the machine does not come first"
finish "cli command line"
