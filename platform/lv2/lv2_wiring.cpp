// The chain's wiring as a plan of channels, and its words.
#include "platform/lv2/lv2_wiring.h"

#include <algorithm>

namespace {
std::string count_text(uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "input 3" or "inputs 3 to 4", numbered from 1.
std::string range_text(const char* one, const char* many, uint32_t first, uint32_t last) {
    return first == last
               ? std::string(one) + " " + std::to_string(first)
               : std::string(many) + " " + std::to_string(first) + " to " + std::to_string(last);
}

uint32_t notes_link(const std::vector<WiringPorts>& chain, bool notes_to_any_midi) {
    for (uint32_t s = 0; s < chain.size(); ++s) {
        if (chain[s].takes_notes || (notes_to_any_midi && chain[s].midi_in)) {
            return s;
        }
    }
    return static_cast<uint32_t>(chain.size());
}

// How link s's main inputs hear the outputs of the one before; the words.
std::string wire_audio(const WiringPorts& ports, const WiringPorts& before, const WiredLink& from,
                       WiredLink* link, uint32_t* next) {
    const uint32_t outputs = before.audio_out;
    const uint32_t inputs = ports.audio_in;
    for (uint32_t i = 0; i < inputs; ++i) {
        link->input_source.push_back(outputs == 0 ? SILENT_CHANNEL
                                                  : from.first_output + std::min(i, outputs - 1));
    }
    if (inputs == 0) {
        return "";
    }
    if (outputs == 0) {
        return ", its inputs silent (nothing before it has audio out)";
    }
    if (inputs > outputs) {
        return ", output " + std::to_string(outputs) + " of the one before feeding " +
               (inputs - outputs == 1 ? "input " : "inputs ") + std::to_string(outputs) + " to " +
               std::to_string(inputs) + (outputs == 1 ? " (mono into stereo)" : "");
    }
    if (inputs < outputs) {
        // The last input hears a channel of its own, the sum.
        link->sum_first = from.first_output + inputs - 1;
        link->sum_count = outputs - inputs + 1;
        link->input_source.back() = (*next)++;
        const bool two = link->sum_count == 2;
        return ", outputs " + std::to_string(inputs) + (two ? " and " : " to ") +
               std::to_string(outputs) + " of the one before summed into input " +
               std::to_string(inputs) + (inputs == 1 && two ? " (stereo into mono)" : "");
    }
    return "";
}
} // namespace

Wiring plan_wiring(const std::vector<WiringPorts>& chain, bool notes_to_any_midi) {
    Wiring wiring{};
    const uint32_t noted = notes_link(chain, notes_to_any_midi);
    uint32_t next = FIRST_INPUT_CHANNEL;
    for (uint32_t s = 0; s < chain.size(); ++s) {
        const WiringPorts& ports = chain[s];
        WiredLink link{};
        std::string words = ports.name + " (" + std::to_string(ports.audio_in) + " in, " +
                            std::to_string(ports.audio_out) + " out)";
        if (s == 0) {
            for (uint32_t i = 0; i < ports.audio_in; ++i) {
                link.input_source.push_back(next++);
            }
        } else {
            words += wire_audio(ports, chain[s - 1], wiring.links[s - 1], &link, &next);
        }
        if (ports.side_chain_in > 0) {
            words += ", side-chain " +
                     range_text("input", "inputs", ports.audio_in + 1,
                                ports.audio_in + ports.side_chain_in) +
                     ": silence";
        }
        if (ports.cv_in > 0) {
            words += ", " + count_text(ports.cv_in, "CV input", "CV inputs") + " at the default";
        }
        link.gets_notes = s == noted;
        link.midi_from_before = !link.gets_notes && ports.midi_in && s > 0 && chain[s - 1].midi_out;
        if (link.gets_notes) {
            words += ", the note pattern";
        } else if (link.midi_from_before) {
            words += ", MIDI from the one before";
        }
        link.first_output = next;
        next += ports.audio_out;
        wiring.words += (s == 0 ? "" : " -> ") + words;
        wiring.links.push_back(link);
    }
    wiring.channels = next;
    return wiring;
}
