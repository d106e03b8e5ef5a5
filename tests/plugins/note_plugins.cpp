// The plugins of notes: an instrument that sounds while a note is held, and
// a MIDI plugin that writes a note-on each period.
#include "tests/plugins/test_plugin.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

void play(Plugin* plugin, uint32_t frames) {
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(plugin->ports[0]);
    LV2_ATOM_SEQUENCE_FOREACH(sequence, event) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(event + 1);
        if (event->body.type == plugin->midi_event && lv2_midi_is_voice_message(bytes)) {
            bool on = (bytes[0] & 0xF0) == LV2_MIDI_MSG_NOTE_ON && bytes[2] > 0;
            plugin->held += on ? 1 : -1;
            *port(plugin, 2) += on ? 1.0f : 0.0f;
        }
    }
    for (uint32_t i = 0; i < frames; ++i) {
        port(plugin, 1)[i] = plugin->held > 0 ? (i & 32 ? 0.25f : -0.25f) : 0.0f;
    }
}

// One note-on at the period's first frame, in the room the host gave.
void write_note(Plugin* plugin) {
    auto* out = static_cast<LV2_Atom_Sequence*>(plugin->ports[1]);
    const uint32_t room = out->atom.size;
    out->atom.type = plugin->sequence;
    out->atom.size = sizeof(LV2_Atom_Sequence_Body);
    out->body.unit = 0;
    out->body.pad = 0;
    struct {
        LV2_Atom_Event event;
        uint8_t bytes[3];
    } note{{{0}, {3, plugin->midi_event}}, {LV2_MIDI_MSG_NOTE_ON, 60, 100}};
    if (room >= sizeof(LV2_Atom_Sequence_Body) + sizeof note) {
        lv2_atom_sequence_append_event(out, room, &note.event);
    }
}
