#!/usr/bin/env bash
# `test_zem_cli plugins`: as many plugins as lv2ls lists, as text and JSON;
# our test bundle alone (LV2_PATH), with the plugin it cannot host named and
# why; libraries that will not give their plugin; a folder with none.
#   plugins_test.sh TEST_ZEM_CLI TEST_BUNDLE_FOLDER
cli=$(realpath "$1")
bundles=$(realpath "$2")
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"

check() { # what, command...
    local what=$1
    shift
    "$@" >/dev/null 2>&1 || fail "$what"
}

expected=$(lv2ls | wc -l)
"$cli" plugins --json >"$WORK/all.json"
check "as many plugins as lv2ls ($expected)" \
    test "$(jq '.plugins | length' "$WORK/all.json")" -eq "$expected"
check "every listed URI is one lv2ls lists" \
    diff <(jq -r '.plugins[].uri' "$WORK/all.json" | sort) <(lv2ls | sort)
"$cli" plugins >"$WORK/all.txt"
check "the text says how many" grep -q "^$expected LV2 plugins (LV2_PATH not set" "$WORK/all.txt"

LV2_PATH=$bundles "$cli" plugins >"$WORK/ours.txt"
check "our bundle alone, one not hostable" \
    grep -q "^23 LV2 plugins (LV2_PATH $bundles): 22 can be hosted, 1 cannot" "$WORK/ours.txt"
check "the missing feature named" \
    grep -q "cannot be hosted: it requires urn:zem-test:unknown-feature-uri" "$WORK/ours.txt"
check "a plugin's line" grep -q "audio 0/1 · control 0/1 · events 1/0 · takes notes · hard RT" \
    "$WORK/ours.txt"
check "a side-chain's line" grep -q "audio 1/1 + 1 side-chain in · control 0/1" "$WORK/ours.txt"
LV2_PATH=$bundles "$cli" plugins --json >"$WORK/ours.json"
check "JSON: side-chain and MIDI" test "$(jq -r '[.plugins[] | select(.uri | endswith("side-chain")
    or endswith("note-each-period")) | "\(.audio.side_chain_in) \(.midi_in) \(.takes_notes)"]
    | join(",")' "$WORK/ours.json")" = "0 true true,1 false false"
check "JSON: schema and mode" test "$(jq -r '"\(.schema_version) \(.mode) \(.lv2_path)"' \
    "$WORK/ours.json")" = "4 plugins $bundles"

(cd "$(dirname "$bundles")" && LV2_PATH=$(basename "$bundles") "$cli" plugins >"$WORK/relative.txt")
check "a relative LV2_PATH" grep -q "^23 LV2 plugins" "$WORK/relative.txt"

# A binary that is no library, and a library without the plugin.
mkdir -p "$WORK/broken/broken.lv2"
echo "not a library" >"$WORK/broken/broken.lv2/garbage.so"
cat >"$WORK/broken/broken.lv2/manifest.ttl" <<TTL
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix doap: <http://usefulinc.com/ns/doap#> .
<urn:zem-test:garbage> a lv2:Plugin ; doap:name "garbage" ; lv2:binary <garbage.so> .
<urn:zem-test:undescribed> a lv2:Plugin ; doap:name "undescribed" ;
    lv2:binary <file://$bundles/zem-test.lv2/zem_test_plugins.so> .
TTL
LV2_PATH=$bundles:$WORK/broken "$cli" plugins >"$WORK/broken.txt"
check "libraries opened: 2 more not hostable" \
    grep -q "^25 LV2 plugins (.*): 22 can be hosted, 3 cannot" "$WORK/broken.txt"
check "the loader's reason" \
    grep -q "cannot be hosted: its library does not open: garbage.so: " "$WORK/broken.txt"
check "a library without the plugin" grep -q \
    "cannot be hosted: its library holds no descriptor of urn:zem-test:undescribed" \
    "$WORK/broken.txt"

mkdir "$WORK/empty"
LV2_PATH=$WORK/empty "$cli" plugins >"$WORK/none.txt"
check "no plugins found" grep -q "^No LV2 plugins found (LV2_PATH $WORK/empty)" "$WORK/none.txt"
finish "cli plugins"
