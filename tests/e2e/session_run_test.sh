#!/usr/bin/env bash
# A session of our test plugins run by the session subcommand: two tracks,
# a bus fed by a send and a connection, a master; held at two buffer sizes
# on one thread. The JSON's structure and its honesty (a size that plays
# missed no more than its allowance; every period asked was held), the
# text's verdict, its picture, and the refusals: files that are not
# sessions (malformed JSON or XML, a route that feeds itself, a file over
# the size limit: one line, exit 2), a picture that cannot be written (exit
# 2 before the run), a route whose plugin is not installed and one whose
# plugin crashes in run() (exit 1, the route and plugin named).
# Structure only.
#
#   tests/e2e/session_run_test.sh CLI LV2_PATH
cli=$1
export LV2_PATH=$2
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
work=$WORK

# session_file FILE PLUGIN: the session, its bus running PLUGIN.
session_file() {
    cat >"$1" <<JSON
{"schema": 1, "name": "test plugins", "sample_rate": 48000, "routes": [
 {"id": "m", "name": "Master", "kind": "master", "plugins": [], "feeds": [], "skipped": []},
 {"id": "a", "name": "Guitar", "kind": "audio_track",
  "plugins": [{"uri": "urn:zem-test:gain", "active": true, "inputs": {"audio": 1, "midi": 0},
               "outputs": {"audio": 1, "midi": 0}, "controls": [{"symbol": "gain", "value": 0.5}]}],
  "feeds": [{"route": 0, "gain": 1.0, "send": false}, {"route": 3, "gain": 0.5, "send": true}],
  "skipped": []},
 {"id": "b", "name": "Bass", "kind": "audio_track",
  "plugins": [{"uri": "urn:zem-test:gain", "active": true, "inputs": {"audio": 1, "midi": 0},
               "outputs": {"audio": 1, "midi": 0}, "controls": []}],
  "feeds": [{"route": 3, "gain": 1.0, "send": false}], "skipped": []},
 {"id": "r", "name": "Room", "kind": "audio_bus",
  "plugins": [{"uri": "$2", "active": true, "inputs": {"audio": 2, "midi": 0},
               "outputs": {"audio": 2, "midi": 0}, "controls": []}],
  "feeds": [{"route": 0, "gain": 1.0, "send": false}], "skipped": []}]}
JSON
}

session_file "$work/session.json" urn:zem-test:stereo
if ! timeout 120 "$cli" session "$work/session.json" --buffers 256,1024 --cores 1 --confirm 0.5 \
    --json >"$work/report.json" 2>"$work/report.err"; then
    fail "session run: $(cat "$work/report.err")"
fi
jq -e '(.sizes | length) == 2 and (.sizes | map(.frames)) == [256, 1024]' \
    "$work/report.json" >/dev/null || fail "not two sizes: $(head -c 400 "$work/report.json")"
jq -e 'all(.sizes[]; .periods == .periods_asked and (.plays | type) == "boolean"
    and ((.plays | not) or .missed <= .allowance) and (.critical_path.routes | length) >= 2
    and (.routes | length) == 4 and (.routes | map(.plugins | length) | add) == 3)' \
    "$work/report.json" >/dev/null ||
    fail "sizes: $(jq -c '.sizes' "$work/report.json" | head -c 600)"
jq -e '.verdict | startswith("plays")' "$work/report.json" >/dev/null ||
    fail "verdict: $(jq -r '.verdict' "$work/report.json")"
jq -e '.session.routes[3].name == "Room" and .failure == ""' "$work/report.json" >/dev/null ||
    fail "session: $(jq -c '.session' "$work/report.json" | head -c 400)"

timeout 120 "$cli" session "$work/session.json" --buffers 1024 --cores 1 --confirm 0.5 \
    --svg "$work/report.svg" >"$work/report.txt" 2>&1 || fail "text run: $(cat "$work/report.txt")"
grep -q '^At 1024 samples' "$work/report.txt" || fail "no size: $(cat "$work/report.txt")"
grep -q '^Verdict: plays' "$work/report.txt" || fail "no verdict: $(cat "$work/report.txt")"
if ! { tail -n 1 "$work/report.svg" | grep -qx '</svg>' &&
    [ "$(grep -c '^<g class="size">' "$work/report.svg")" -eq 1 ] &&
    grep -q 'At 1024 samples.*: plays' "$work/report.svg"; }; then
    fail "picture: $(head -c 400 "$work/report.svg")"
fi
# A picture that cannot be written stops the command before anything runs.
out=$(timeout 20 "$cli" session "$work/session.json" --buffers 1024 --cores 1 \
    --svg "$work/no-such-folder/s.svg" 2>"$work/svg.err")
status=$?
if [ "$status" -ne 2 ] || [ -n "$out" ] || ! grep -q 'could not write' "$work/svg.err"; then
    fail "a bad --svg path: exit status $status: $(cat "$work/svg.err") $out"
fi

# Hostile files: each refused in one line with exit 2, before anything runs.
echo '{"schema": 1' >"$work/broken.json"
sed 's/"feeds": \[{"route": 3, "gain": 1.0, "send": false}\]/"feeds": [{"route": 2, "gain": 1.0, "send": false}]/' \
    "$work/session.json" >"$work/itself.json"
printf '<Session version="7002" sample-rate="48000"><Routes>' >"$work/cut.ardour"
head -c 17000000 /dev/zero | tr '\0' ' ' >"$work/huge.json"
for hostile in broken.json itself.json cut.ardour huge.json; do
    err=$(timeout 20 "$cli" session "$work/$hostile" 2>&1 >/dev/null)
    status=$?
    [ "$status" -eq 2 ] || fail "$hostile: exit status $status, not 2: $err"
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "$hostile: not one line: $err"
done

session_file "$work/missing.json" urn:zem-test:no-such-plugin
err=$("$cli" session "$work/missing.json" --buffers 1024 --cores 1 --confirm 0.5 2>&1 >/dev/null)
status=$?
[ "$status" -eq 1 ] || fail "a missing plugin: exit status $status, not 1: $err"
printf '%s\n' "$err" | grep -q "^test_zem_cli: route Room: no plugin urn:zem-test:no-such-plugin" ||
    fail "a missing plugin is not named with its route: $err"

# A plugin that crashes in run(), hundreds of periods in: its process ends
# alone, and the run names the route and the plugin and exits 1.
session_file "$work/crash.json" urn:zem-test:crash-later
err=$(timeout 120 "$cli" session "$work/crash.json" --buffers 256 --cores 1 --confirm 2 2>&1 >/dev/null)
status=$?
[ "$status" -eq 1 ] || fail "a crash in run(): exit status $status, not 1: $err"
printf '%s\n' "$err" | grep -q "^test_zem_cli: route Room, plugin ZEM test crash later: crashed with signal 11 (SIGSEGV)" ||
    fail "a crash in run() is not named with its route and plugin: $err"

finish "session run"
