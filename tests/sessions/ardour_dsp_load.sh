#!/usr/bin/env bash
# Runs an Ardour session headless under a private JACK server with the dummy
# driver and prints Ardour's own figures for it: the DSP load (JACK's, as
# Ardour reports it) once a second, the xruns and each LV2 plugin's time a
# cycle. Kept out of the test suite: it measures, and wants a quiet machine.
# Exits 77 where ardour7-lua or jackd is not installed, 3 where Ardour did
# not play the session (try again).
set -euo pipefail

usage="usage: $0 [--json] SESSION.ardour FRAMES SECONDS [THREADS]"
json=false
if [ "${1:-}" = "--json" ]; then
    json=true
    shift
fi
if [ "$#" -lt 3 ] || [ "$#" -gt 4 ]; then
    echo "$usage" >&2
    exit 2
fi
for program in ardour7-lua jackd jack_lsp; do
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "skipped: $program is not installed (Debian's ardour and jackd2 packages)"
        exit 77
    fi
done
session_file=$(realpath "$1")
frames=$2
seconds=$3
# Ardour's processor-usage: 0 all cores, N at most N, -N all but N.
threads=${4:-}
for number in "$frames" "$seconds" "${threads:-0}"; do
    if ! [[ "$number" =~ ^-?[0-9]+$ ]]; then
        echo "$usage" >&2
        exit 2
    fi
done
if [ ! -f "$session_file" ] || [ "${session_file##*.}" != "ardour" ]; then
    echo "not an Ardour session file: $1" >&2
    exit 2
fi

# Ardour writes its configuration under HOME, and JACK its sockets under
# the server's name: both private, so nothing clashes with a user's own.
scratch=$(mktemp -d)
server="test-zem-$$"
jack_pid=""
lua_pid=""
stop_all() {
    [ -n "$lua_pid" ] && kill "$lua_pid" 2>/dev/null && wait "$lua_pid" 2>/dev/null
    [ -n "$jack_pid" ] && kill "$jack_pid" 2>/dev/null && wait "$jack_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap stop_all EXIT

JACK_NO_AUDIO_RESERVATION=1 jackd -n "$server" -d dummy -r 48000 -p "$frames" \
    >"$scratch/jackd.log" 2>&1 &
jack_pid=$!
deadline=$((SECONDS + 10))
until JACK_DEFAULT_SERVER="$server" jack_lsp >/dev/null 2>&1; do
    if ! kill -0 "$jack_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
        echo "jackd did not start:" >&2
        tail -n 5 "$scratch/jackd.log" >&2
        exit 1
    fi
    sleep 0.1
done

# Lines of ours start with "@@", tab-separated, among Ardour's own output.
cat >"$scratch/measure.lua" <<'LUA'
local path, name, seconds, threads, cores = arg[1], arg[2], tonumber(arg[3]), arg[4], tonumber(arg[5])
if threads ~= "" then ARDOUR.config():set_processor_usage(tonumber(threads)) end
local usage = ARDOUR.config():get_processor_usage()
-- Ardour's rule for how many DSP threads a processor-usage gives.
local used = 1
if usage < 0 then
  if -usage < cores then used = cores + usage end
elseif usage == 0 then used = cores
else used = math.min(cores, usage) end
assert(AudioEngine:set_backend("JACK", "", ""), "no JACK backend")
local s = load_session(path, name)
assert(s, "the session did not load")
s:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
local function each_plugin(f)
  for r in s:get_routes():iter() do
    local i = 0
    while true do
      local p = r:nth_plugin(i)
      if p:isnil() then break end
      f(r, p, p:to_insert())
      i = i + 1
    end
  end
end
-- The first second loads and fills buffers: counted from after it.
sleep(1)
s:reset_xrun_count()
each_plugin(function(_, _, insert) insert:clear_stats() end)
for _ = 1, seconds do
  sleep(1)
  print(string.format("@@\tload\t%.3f", AudioEngine:get_dsp_load()))
end
print(string.format("@@\trolling\t%s", tostring(s:transport_rolling())))
print(string.format("@@\txruns\t%d", s:get_xrun_count()))
print(string.format("@@\tthreads\t%d\t%d", usage, used))
each_plugin(function(r, p, insert)
  local ok, stats = insert:get_stats(0, 0, 0, 0)
  if ok then
    print(string.format("@@\tplugin\t%s\t%s\t%.1f\t%d\t%d\t%.1f", r:name(), p:display_name(),
                        stats[3], stats[2], stats[1], stats[4]))
  end
end)
close_session()
LUA

name=$(basename "$session_file" .ardour)
HOME="$scratch" JACK_DEFAULT_SERVER="$server" ardour7-lua "$scratch/measure.lua" \
    "$(dirname "$session_file")" "$name" "$seconds" "$threads" "$(nproc)" \
    >"$scratch/lua.log" 2>&1 &
lua_pid=$!
status=0
wait "$lua_pid" || status=$?
lua_pid=""
grep -P '^@@\t' "$scratch/lua.log" | cut -f 2- >"$scratch/figures" || true
if [ "$status" -ne 0 ] || ! grep -q '^threads' "$scratch/figures"; then
    echo "ardour7-lua failed ($status):" >&2
    grep -v '^\[WARNING\]' "$scratch/lua.log" | tail -n 5 >&2
    exit 1
fi

# One JSON document from the lines, from which the table is printed too.
report=$(jq -R -s --arg session "$session_file" --argjson frames "$frames" '
    [split("\n")[] | select(length > 0) | split("\t")] as $rows
    | ([$rows[] | select(.[0] == "load") | (.[1] | tonumber)]) as $loads
    | ($rows[] | select(.[0] == "threads")) as $threads
    | {session: $session, frames: $frames, sample_rate: 48000,
       dsp_load_percent: {mean: ($loads | add / length), max: ($loads | max),
                          readings: $loads},
       rolling: ([$rows[] | select(.[0] == "rolling")][0][1] == "true"),
       xruns: ([$rows[] | select(.[0] == "xruns")][0][1] | tonumber),
       processor_usage: ($threads[1] | tonumber), dsp_threads: ($threads[2] | tonumber),
       plugins: [$rows[] | select(.[0] == "plugin")
                 | {route: .[1], plugin: .[2], avg_us: (.[3] | tonumber),
                    max_us: (.[4] | tonumber), min_us: (.[5] | tonumber),
                    dev_us: (.[6] | tonumber)}]}' "$scratch/figures")
# Now and then the server drops Ardour while the session loads ("Unknown
# request" in its log): its readings are then all 0, and worth nothing.
if ! jq -e '.rolling and .dsp_load_percent.max > 0' <<<"$report" >/dev/null; then
    echo "Ardour did not play the session: the transport is not rolling, the DSP load reads 0" \
        "($(grep -c 'Unknown request' "$scratch/jackd.log" || true) unknown requests in jackd's log)" >&2
    exit 3
fi
if "$json"; then
    echo "$report"
    exit 0
fi
jq -r '"session   \(.session)",
    "period    \(.frames) samples at \(.sample_rate) Hz, \(.dsp_threads) DSP thread(s) (processor-usage \(.processor_usage))",
    "DSP load  mean \(.dsp_load_percent.mean * 10 | round / 10) %, max \(.dsp_load_percent.max * 10 | round / 10) % over \(.dsp_load_percent.readings | length) readings",
    "xruns     \(.xruns)\(if .rolling then "" else " (transport not rolling)" end)", ""' <<<"$report"
jq -r '(["route", "plugin", "avg us", "max us"] | @tsv),
    (.plugins[] | [.route, .plugin, .avg_us, .max_us] | @tsv)' <<<"$report" | column -t -s $'\t'
