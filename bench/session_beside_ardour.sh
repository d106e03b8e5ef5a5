#!/usr/bin/env bash
# Plays Ardour sessions in Ardour itself and holds them with ours, one
# after the other at each buffer size, on one core and one DSP thread each,
# and prints both hosts' figures side by side as a Markdown table: the share
# of the period each used, what its plugins took, and Ardour's DSP load
# over ours. Wants a quiet machine; both run pinned to the same processor.
#
#   bench/session_beside_ardour.sh CLI SECONDS FRAMES[,FRAMES...] SESSION.ardour...
#
# e.g., with sessions from tests/sessions/make_ardour_sessions.sh:
#   bench/session_beside_ardour.sh build/release/cli/test_zem_cli 10 128,1024 \
#       /tmp/s/tracks*/tracks*.ardour /tmp/s/bare*/bare*.ardour
set -euo pipefail

if [ "$#" -lt 4 ]; then
    echo "usage: $0 CLI SECONDS FRAMES[,FRAMES...] SESSION.ardour..." >&2
    exit 2
fi
cli=$(realpath "$1")
seconds=$2
IFS=, read -r -a sizes <<<"$3"
shift 3
here=$(dirname "$(realpath "$0")")
ardour_load="$here/../tests/sessions/ardour_dsp_load.sh"
processor=${ZEM_PROCESSOR:-0}
out=$(mktemp -d /tmp/session-beside.XXXXXX)
echo "runs kept in $out" >&2

# Means beside means: JACK's DSP load, as Ardour reports it, is a mean of
# its cycles' times over the period, and Ardour times each plugin's mean.
echo "| session | samples | ours: period used, mean (median, worst) | ours: plugins' means | ours: missed | Ardour: DSP load, mean (max) | Ardour: plugins' means | Ardour: xruns | Ardour / ours |"
echo "|---|---|---|---|---|---|---|---|---|"
for session in "$@"; do
    name=$(basename "$session" .ardour)
    for frames in "${sizes[@]}"; do
        theirs="$out/$name-$frames-ardour.json"
        ours="$out/$name-$frames-ours.json"
        # The server now and then drops Ardour as it loads: three tries.
        for _ in 1 2 3; do
            status=0
            taskset -c "$processor" "$ardour_load" --json "$session" "$frames" "$seconds" 1 \
                >"$theirs" || status=$?
            [ "$status" -ne 3 ] && break
        done
        if [ "$status" -ne 0 ]; then
            echo "| $name | $frames | Ardour did not play it in three tries |"
            continue
        fi
        # Our run exits 1 when a size does not play; its report says so.
        taskset -c "$processor" "$cli" session "$session" --buffers "$frames" --cores 1 \
            --confirm "$seconds" --json >"$ours" || true
        if ! jq -e '.sizes | length > 0' "$ours" >/dev/null 2>&1; then
            echo "| $name | $frames | no verdict: $(jq -r '.failure // "no report"' "$ours" 2>/dev/null) |"
            continue
        fi
        jq -n -r --slurpfile ours "$ours" --slurpfile theirs "$theirs" --arg name "$name" '
            ($ours[0].sizes[0]) as $s | ($theirs[0]) as $a
            | (100 / $s.period_ns) as $pct
            | ($s.use_mean_ns * $pct) as $mean
            | ([$s.routes[].plugins[].mean_ns] | add // 0) as $plugins
            | ([$a.plugins[].avg_us] | add // 0) as $their_plugins
            | def one: . * 10 | round / 10;
            "| \($name) | \($s.frames) | \($mean | one) % (\($s.use_median_ns * $pct | one) %, \($s.use_worst_ns * $pct | one) %) | \($plugins * $pct | one) % | \($s.missed) of \($s.periods) | \($a.dsp_load_percent.mean | one) % (\($a.dsp_load_percent.max | one) %) | \($their_plugins * 1000 * $pct | one) % | \($a.xruns) | \(if $mean > 0 then ($a.dsp_load_percent.mean / $mean * 100 | round / 100) else "-" end) |"'
    done
done
