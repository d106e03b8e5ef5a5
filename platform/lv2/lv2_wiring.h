// How a chain is wired, as a DAW wires a track: a pure plan from the
// plugins' ports to the channels each port is connected to, and its words.
// No lilv here: the load applies the plan (lv2_load_open.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Audio channels every instance has before the plugins': silence (inputs fed
// by nothing, side-chains) and a scratch buffer (CV outputs).
constexpr uint32_t SILENT_CHANNEL = 0;
constexpr uint32_t SCRATCH_CHANNEL = 1;
constexpr uint32_t FIRST_INPUT_CHANNEL = 2;

// A plugin's ports as the wiring sees them.
struct WiringPorts {
    std::string name;
    uint32_t audio_in;      // main audio inputs
    uint32_t side_chain_in; // audio inputs declared lv2:isSideChain
    uint32_t audio_out;
    uint32_t cv_in, cv_out;
    bool midi_in;     // an event input that accepts MIDI
    bool midi_out;    // an event output that writes MIDI
    bool takes_notes; // an instrument or a MIDI plugin, with a MIDI input
};

struct WiredLink {
    std::vector<uint32_t> input_source; // per main input: the channel feeding it
    uint32_t first_output;              // the channel of its first output
    // The channels [sum_first, sum_first + sum_count) summed into the
    // channel of its last input before it runs; sum_count 0 none.
    uint32_t sum_first, sum_count;
    bool gets_notes;       // the note pattern, on its MIDI input
    bool midi_from_before; // its MIDI input gets what the plugin before it wrote
};

struct Wiring {
    std::vector<WiredLink> links;
    uint32_t channels; // audio channels an instance needs
    std::string words;
};

// Outputs feed the next plugin's main inputs by index; the last output
// feeds extra inputs (mono into stereo); extra outputs are summed into the
// last input (stereo into mono). Side-chains hear silence. The note pattern
// goes to the first plugin that takes notes (with `notes_to_any_midi`, the
// first with a MIDI input); a plugin's MIDI output feeds the next one's
// MIDI input unless that one gets the pattern.
Wiring plan_wiring(const std::vector<WiringPorts>& chain, bool notes_to_any_midi);
