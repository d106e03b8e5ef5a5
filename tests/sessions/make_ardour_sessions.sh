#!/usr/bin/env bash
# Makes Ardour sessions to read: 1, 8 and 32 audio tracks, each with the x42
# EQ and an LSP compressor and sending to two buses that each hold a
# Dragonfly reverb, and a MIDI track playing an mda synth. Each is made by
# Ardour itself, headless, through ardour7-lua; FOLDER/tracksN/tracksN.ardour
# is the session of N tracks. With --bare, FOLDER/bareN/bareN.ardour has the
# same routes and sends and no plugin, so that what Ardour itself costs a
# period can be measured apart from its plugins. Exits 77 where ardour7-lua
# is not installed.
set -euo pipefail

kind=tracks
if [ "${1:-}" = "--bare" ]; then
    kind=bare
    shift
fi
if [ "$#" -ne 1 ]; then
    echo "usage: $0 [--bare] FOLDER" >&2
    exit 2
fi
if ! command -v ardour7-lua >/dev/null 2>&1; then
    echo "skipped: ardour7-lua is not installed (Debian's ardour package)"
    exit 77
fi
folder=$(realpath -m "$1")
mkdir -p "$folder"
# Ardour writes its configuration under HOME: a scratch one, removed after.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The Lua that builds a session of $1 tracks at $2, named $3; $4 is true for
# plugins, false for none.
session_lua() {
    cat <<LUA
AudioEngine:set_backend("None (Dummy)", "", "")
AudioEngine:set_buffer_size(256)
local s = create_session("$2", "$3", 48000)
assert(s, "no session")
local with_plugins = $4
local function add(route, uri, index)
  if not with_plugins then return nil end
  local p = ARDOUR.LuaAPI.new_plugin(s, uri, ARDOUR.PluginType.LV2, "")
  assert(not p:isnil(), "plugin not installed: " .. uri)
  route:add_processor_by_index(p, index, nil, true)
  return p
end
local buses = {}
for _, uri in ipairs({"urn:dragonfly:room", "urn:dragonfly:plate"}) do
  local bus = s:new_audio_route(2, 2, nil, 1, "", ARDOUR.PresentationInfo.Flag.AudioBus,
                                ARDOUR.PresentationInfo.max_order):front()
  add(bus, uri, 0)
  buses[#buses + 1] = bus
end
local tracks = s:new_audio_track(1, 2, nil, $1, "Audio", ARDOUR.PresentationInfo.max_order,
                                 ARDOUR.TrackMode.Normal, true)
for t in tracks:iter() do
  local eq = add(t, "http://gareus.org/oss/lv2/fil4#mono", 0)
  add(t, "http://lsp-plug.in/plugins/lv2/compressor_mono", 1)
  if eq then ARDOUR.LuaAPI.set_processor_param(eq, 1, -3) end
  -- A send needs the processor it goes before, the fader's amp; Ardour
  -- makes it silent, so each is given a gain of its own.
  for index, bus in ipairs(buses) do
    t:add_aux_send(bus, t:amp())
    t:nth_send(index - 1):to_send():gain_control():set_value(1 / (2 * index),
                                                              PBD.GroupControlDisposition.NoGroup)
  end
end
local synth = s:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
                               ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), true,
                               ARDOUR.PluginInfo(), nil, nil, 1, "Synth",
                               ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
add(synth:front(), "http://drobilla.net/plugins/mda/JX10", 0)
s:save_state("", false, false, false, false, false)
close_session()
print("made $3")
LUA
}

status=0
with_plugins=true
[ "$kind" = bare ] && with_plugins=false
for tracks in 1 8 32; do
    name="$kind$tracks"
    target="$folder/$name"
    rm -rf "$target"
    session_lua "$tracks" "$target" "$name" "$with_plugins" >"$scratch/make.lua"
    # ardour7-lua prints every plugin it scans; only its last lines matter.
    if ! HOME="$scratch" ardour7-lua "$scratch/make.lua" >"$scratch/log" 2>&1 ||
        [ ! -f "$target/$name.ardour" ]; then
        echo "$name: ardour7-lua failed:"
        grep -v '^\[WARNING\]' "$scratch/log" | tail -n 5
        status=1
        continue
    fi
    echo "$target/$name.ardour"
done
exit "$status"
