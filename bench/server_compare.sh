#!/usr/bin/env bash
# Streams sustained at one buffer size on our own clock (one core), inside
# jackd and inside PipeWire (both with their dummy drivers and real-time
# priority, each in a private runtime folder), one run after another, as one
# Markdown table with the servers' own load and xruns beside our figures.
#
#   bench/server_compare.sh CLI FRAMES [RATE [realtime options...]]
#
# e.g. bench/server_compare.sh build/release/cli/test_zem_cli 256 48000 --confirm 5
set -u
cli=$(realpath "$1")
frames=$2
rate=${3:-48000}
shift "$(($# < 3 ? $# : 3))"
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=../tests/lib.sh
source tests/lib.sh
# shellcheck source=../tests/audio_servers.sh
source tests/audio_servers.sh

# One row per run shown: the idle system's and each test's confirm run.
rows() { # CLOCK JSON
    # shellcheck disable=SC2016 # jq's variables
    jq -r --arg clock "$1" '
        def ms: if . == null then "-" else . / 1e6 * 100 | round / 100 | tostring end;
        def pc: if . == null then "-" else . * 10 | round / 10 | tostring end;
        def row($name; $streams; $f): [$clock, $name, $streams,
            if $f == null then "-" else "\($f.missed) of \($f.periods)" end,
            "\($f.processing_ns.p50 | ms) / \($f.processing_ns.max | ms)",
            "\($f.lateness_ns.p99 | ms) / \($f.lateness_ns.max | ms)",
            "\($f.server.our_load_percent.mean | pc) / \($f.server.our_load_percent.max | pc)",
            "\($f.server.load_percent.mean | pc) / \($f.server.load_percent.max | pc)",
            ($f.server.xruns // "-"), ($f.server.missed_by_stated_end // "-")]
            | "| " + (map(tostring) | join(" | ")) + " |";
        if .failure != null then "| \($clock) | failed: \(.failure) |" else
        .runs[0] | row("idle"; "-"; .idle),
            (.tests | to_entries[] | .value as $t
             | row(.key | ascii_upcase | sub("ZEM"; "ZEM-");
                   if $t.state == "done" then "\($t.streams) (\($t.headroom))"
                   elif $t.confirm != null then "\($t.state): \($t.confirm.streams) missed"
                   else $t.state end;
                   $t.confirm))
        end' "$2"
}

echo "Buffer $frames at $rate Hz, one core; $(date -u '+%Y-%m-%d %H:%M UTC'); load average" \
    "$(cut -d' ' -f1-3 /proc/loadavg); options: ${*:-none}"
echo
echo "| Clock | Run | Streams (headroom) | Missed | Processing p50 / max, ms" \
    "| Lateness p99 / max, ms | Our load mean / worst, % | Server's load mean / worst, %" \
    "| Server's xruns | Past the server's stated end |"
echo "|---|---|---|---|---|---|---|---|---|---|"
"$cli" realtime --buffers "$frames" --rate "$rate" --cores 1 --json "$@" >"$WORK/own.json"
rows "own clock" "$WORK/own.json"
for kind in jackd pipewire; do
    if ! "start_$kind" "$frames" "$rate" rt; then
        echo "| $kind | could not start: $server_problem |"
        continue
    fi
    server_run "$cli" realtime --server jack --json "$@" >"$WORK/$kind.json"
    rows "$kind (dummy)" "$WORK/$kind.json"
    stop_server
done
