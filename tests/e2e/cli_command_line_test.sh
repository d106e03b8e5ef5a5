#!/usr/bin/env bash
# The console runner's answers to bad input, hostile reports given to
# compare, session reports compared, --help and --version, output that cannot be written, and a stop
# signal in the middle of a run.
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

# Hostile reports: each refused in one line with status 2, within the
# time-out and 100 MB (the peak resident size GNU time reads). The figures
# are printed, not judged: this machine is shared.
fixture=$(dirname "$0")/../fixtures/reports/realtime_v2.json
hostile=$WORK/hostile
mkdir -p "$hostile/folder"
printf '{"a":1e400}\n' >"$hostile/e400.json"
sed 's/"streams": 7500/"streams": 18446744073709551615/' "$fixture" >"$hostile/u64.json"
sed 's/"streams": 7500/"streams": -3/' "$fixture" >"$hostile/negative.json"
sed 's/"per_minute": 0.4/"per_minute": NaN/' "$fixture" >"$hostile/nan.json"
sed 's/"per_minute": 0.4/"per_minute": Infinity/' "$fixture" >"$hostile/infinity.json"
head -c 100000 /dev/zero | tr '\0' '[' >"$hostile/nested.json"
printf '{"mode":"realtime","machine":{"processor":"\377\376"}}\n' >"$hostile/latin1.json"
: >"$hostile/empty.json"
truncate -s 200M "$hostile/large.json" # sparse: no disk is used
sed 's/"schema_version": 2/"schema_version": 999/' "$fixture" >"$hostile/newer.json"
for report in e400 u64 negative nan infinity nested latin1 empty large newer folder /dev/zero; do
    case $report in
    /*) path=$report ;;
    folder) path=$hostile/folder ;;
    *) path=$hostile/$report.json ;;
    esac
    err=$(/usr/bin/time -f '%e %M' -o "$WORK/usage" timeout 10 "$cli" compare "$fixture" "$path" \
        2>&1 >/dev/null)
    status=$?
    read -r seconds peak_kb < <(tail -n 1 "$WORK/usage") # after "Command exited with..."
    echo "  $report: status $status, ${seconds} s, $((peak_kb / 1024)) MB: $err"
    [ "$status" -eq 2 ] || fail "compare $report exited $status, not 2"
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "compare $report: not one line: $err"
    case $err in *"$path"*) ;; *) fail "compare $report: the line does not name the file: $err" ;; esac
    [ "$peak_kb" -lt $((100 * 1024)) ] || fail "compare $report took ${peak_kb} KB"
done
rm -f "$hostile/large.json"

# Session reports: compared with each other, refused beside another kind
# and for a picture, each refusal one line.
studio=$(dirname "$0")/../fixtures/reports/session_studio.json
laptop=$(dirname "$0")/../fixtures/reports/session_laptop.json
"$cli" compare "$studio" "$laptop" >"$WORK/sessions.txt" || fail "compare of sessions failed"
grep -q '^At 128 samples, 2 threads: ' "$WORK/sessions.txt" || fail "no size: $(cat "$WORK/sessions.txt")"
"$cli" compare "$studio" "$laptop" --json | jq -e '.rows[0].kind == "session"' >/dev/null ||
    fail "compare --json of sessions"
fails 2 /dev/null compare "$studio" "$fixture"
fails 2 /dev/null compare "$studio" "$laptop" --svg "$WORK/sessions.svg"
[ ! -e "$WORK/sessions.svg" ] || fail "a picture of sessions was written"

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
