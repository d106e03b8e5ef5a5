#!/usr/bin/env bash
# Runs the real-time mode on many installed LV2 plugins, one at a time, each
# under a time limit of its own, and checks the run itself: it must not
# crash, hang past its limit, write invalid JSON or exit with a status its
# report contradicts. Prints a Markdown table of verdicts by package, then
# every run that broke a check.
#
#   bench/plugin_sweep.sh CLI [COUNT [LIMIT_S [URI...]]]
#
# COUNT plugins (default 200) are taken in turn from every package that
# installs some, so that each package is represented; the URIs given are
# always among them. e.g.
#   bench/plugin_sweep.sh build/release/cli/test_zem_cli 220 180 urn:ardour:a-fluidsynth
set -u
cli=$(realpath "$1")
count=${2:-200}
limit=${3:-180}
shift "$(($# < 3 ? $# : 3))"
out=$(mktemp -d /tmp/plugin-sweep.XXXXXX)
echo "runs kept in $out" >&2

# Every plugin with the package that installs its bundle.
lv2ls | while read -r uri; do
    bundle=$(lv2info "$uri" | sed -n 's|^[[:space:]]*Bundle:[[:space:]]*file://||p' | head -n 1)
    package=$(dpkg -S "${bundle%/}" 2>/dev/null | head -n 1 | cut -d: -f1 | cut -d, -f1)
    printf '%s\t%s\n' "${package:-unpackaged}" "$uri"
done | sort >"$out/all.tsv"

# Round-robin over the packages, after the URIs asked for.
{
    for uri in "$@"; do grep -P "\t\Q$uri\E$" "$out/all.tsv"; done
    awk -F'\t' '{ rank[$1] += 1; print rank[$1] "\t" $0 }' "$out/all.tsv" |
        sort -n -k1,1 -s | cut -f2-
} | awk -F'\t' '!seen[$2]++' | head -n "$count" >"$out/chosen.tsv"

started=$(date +%s)
n=0
while IFS=$'\t' read -r package uri; do
    n=$((n + 1))
    json="$out/$n.json"
    begin=$(date +%s.%N)
    # The mark in the environment finds whatever this run left behind.
    ZEM_SWEEP_RUN=$n timeout --kill-after=5 "$limit" "$cli" realtime --plugin "$uri" --buffers 1024 --cores 1 \
        --confirm 1 --idle 1 --json >"$json" 2>"$out/$n.err" </dev/null
    status=$?
    seconds=$(awk -v a="$begin" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    left=$(grep -lzx "ZEM_SWEEP_RUN=$n" /proc/[0-9]*/environ 2>/dev/null | wc -l)
    printf '%s\t%s\t%s\t%s\t%s\n' "$package" "$uri" "$status" "$seconds" "$left" >>"$out/runs.tsv"
    echo "$n $status ${seconds%.*}s $uri" >&2
done <"$out/chosen.tsv"

# One verdict a run: what the report says, and whether the run kept the rules.
verdicts() {
    local i=0
    while IFS=$'\t' read -r package uri status seconds left; do
        i=$((i + 1))
        local json="$out/$i.json" verdict problem=""
        if ! jq -e . "$json" >/dev/null 2>&1; then
            verdict="no report"
            problem="invalid JSON"
        else
            # shellcheck disable=SC2016 # jq's variables
            verdict=$(jq -r '
                def short: split(": ") | last | split(" ")[0:3] | join(" ");
                if .failure != null then "failed run"
                elif any(.plan.loads[]; .validation == "failed") then
                    "refused: " + ([.plan.loads[] | select(.validation == "failed")][0].failure | short)
                else [.runs[] | . as $run | .tests[] | . + {verdict: $run.verdict}] | first
                    | if . == null then "no test"
                      elif .state == "failed" then "trials: " + ((.failure // "") | short)
                      elif .state == "not run" and (.verdict | startswith("not sustainable"))
                      then "idle gate failed"
                      else .state end end' "$json")
            # A failed run, or a load that failed, ends with 1 and nothing else does.
            local failed
            failed=$(jq -r 'if .failure != null or any(.runs[].tests[]; .state == "failed")
                            or any(.plan.loads[]; .validation == "failed")
                            then "yes" else "" end' "$json")
            if [ "$status" -eq 0 ] && [ -n "$failed" ]; then problem="status 0 beside a failure"; fi
            if [ "$status" -eq 1 ] && [ -z "$failed" ]; then problem="status 1 with no failure"; fi
        fi
        case $status in
        0 | 1) ;;
        124 | 137) problem="past its limit of $limit s" ;;
        *) problem="${problem:+$problem, }status $status" ;;
        esac
        [ "${left:-0}" -eq 0 ] || problem="${problem:+$problem, }$left processes left"
        printf '%s\t%s\t%s\t%s\t%s\n' "$package" "$uri" "$verdict" "$seconds" "$problem"
    done <"$out/runs.tsv"
}
verdicts >"$out/verdicts.tsv"

echo "Plugin sweep: $n plugins, $(cut -f1 "$out/chosen.tsv" | sort -u | wc -l) packages," \
    "buffer 1024, one core, --confirm 1 --idle 1, limit $limit s each;" \
    "$(($(date +%s) - started)) s in all; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "| Package | Plugins | Verdicts | Slowest, s |"
echo "|---|---|---|---|"
awk -F'\t' '
    { plugins[$1] += 1; verdict[$1 "\t" $3] += 1; if ($4 > slow[$1]) slow[$1] = $4 }
    END {
        for (key in verdict) { split(key, part, "\t")
            list[part[1]] = list[part[1]] (list[part[1]] == "" ? "" : ", ") part[2] " " verdict[key] }
        for (p in plugins) printf "| %s | %d | %s | %.0f |\n", p, plugins[p], list[p], slow[p]
    }' "$out/verdicts.tsv" | sort
echo
broken=$(awk -F'\t' '$5 != ""' "$out/verdicts.tsv")
if [ -z "$broken" ]; then
    echo "Every run kept the rules."
else
    echo "Runs that broke a check:"
    echo "$broken" | awk -F'\t' '{ printf "- %s (%s): %s\n", $2, $1, $5 }'
    exit 1
fi
