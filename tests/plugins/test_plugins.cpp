// The test plugins: one LV2 binary, one descriptor per kind (the bundle's
// zem-test.ttl describes them). Here the gains, mono and stereo, one that
// writes NaN, one whose side-chain's peak shows on a control output, one
// that requires a feature no host has, and what every kind shares; each
// other family in its own file (test_plugin.h).
#include "tests/plugins/test_plugin.h"

#include <lv2/atom/atom.h>
#include <lv2/midi/midi.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {
const char* const NAMES[KINDS] = {
    "gain",        "stereo",     "crash",    "crash-later",  "hang",
    "nan",         "alloc",      "file",     "thread",       "unknown-feature",
    "worker",      "instrument", "burst",    "burst-always", "slow-phase",
    "slow-always", "hang-open",  "reload",   "print",        "note-each-period",
    "side-chain",  "hungry",     "late-load"};

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                       const LV2_Feature* const* features) {
    auto* plugin = new Plugin{};
    plugin->kind = KINDS;
    for (int k = 0; k < KINDS; ++k) {
        plugin->kind = std::strcmp(descriptor->URI + 13, NAMES[k]) == 0 ? Kind(k) : plugin->kind;
    }
    for (int f = 0; features[f] != nullptr; ++f) {
        if (std::strcmp(features[f]->URI, LV2_URID__map) == 0) {
            auto* map = static_cast<LV2_URID_Map*>(features[f]->data);
            plugin->midi_event = map->map(map->handle, LV2_MIDI__MidiEvent);
            plugin->sequence = map->map(map->handle, LV2_ATOM__Sequence);
        } else if (std::strcmp(features[f]->URI, LV2_WORKER__schedule) == 0) {
            plugin->schedule = static_cast<LV2_Worker_Schedule*>(features[f]->data);
        }
    }
    if (!fault_instantiate(plugin, rate)) {
        delete plugin;
        return nullptr;
    }
    if (((plugin->kind == WORKER || plugin->kind == LATE_LOAD) && plugin->schedule == nullptr) ||
        ((plugin->kind == INSTRUMENT || plugin->kind == NOTE_EACH_PERIOD) &&
         plugin->midi_event == 0)) {
        delete plugin;
        return nullptr;
    }
    labour_prepare(plugin, rate);
    return plugin;
}

// Starting again: no note held, the labour's cycle from its start.
void activate(LV2_Handle handle) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->held = 0;
    plugin->asked = plugin->asked && plugin->loaded; // a restart drops a request not yet served
    labour_restart(plugin);
}

void connect_port(LV2_Handle handle, uint32_t index, void* data) {
    static_cast<Plugin*>(handle)->ports[index] = data;
}

void side_chain(Plugin* plugin, uint32_t frames) {
    float peak = 0.0f;
    for (uint32_t i = 0; i < frames; ++i) {
        port(plugin, 1)[i] = port(plugin, 0)[i];
        peak = std::fmax(peak, std::fabs(port(plugin, 2)[i]));
    }
    *port(plugin, 3) = peak;
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->runs += 1;
    plugin->run_thread = std::this_thread::get_id();
    switch (plugin->kind) {
    case WORKER:
        ask_work(plugin);
        break;
    case INSTRUMENT:
        play(plugin, frames);
        return;
    case NOTE_EACH_PERIOD:
        write_note(plugin);
        return;
    case SIDE_CHAIN:
        side_chain(plugin, frames);
        return;
    case LATE_LOAD:
        late_load_run(plugin, frames);
        return;
    case BURST:
    case BURST_ALWAYS:
    case SLOW_PHASE:
    case SLOW_ALWAYS:
        labour(plugin, frames);
        return;
    default:
        fault_run(plugin, frames);
        break;
    }
    int channels = plugin->kind == STEREO ? 2 : 1;
    float gain = *port(plugin, 2 * channels);
    for (int c = 0; c < channels; ++c) {
        const float* in = port(plugin, c);
        float* out = port(plugin, channels + c);
        for (uint32_t i = 0; i < frames; ++i) {
            out[i] = plugin->kind == NOT_A_NUMBER ? std::numeric_limits<float>::quiet_NaN()
                                                  : in[i] * gain;
        }
    }
}

void cleanup(LV2_Handle handle) {
    auto* plugin = static_cast<Plugin*>(handle);
    fault_cleanup(plugin);
    delete plugin;
}

char uris[KINDS][64];
LV2_Descriptor descriptors[KINDS];
} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    if (index >= KINDS) {
        return nullptr;
    }
    std::snprintf(uris[index], sizeof uris[index], "urn:zem-test:%s", NAMES[index]);
    descriptors[index] = LV2_Descriptor{uris[index], instantiate, connect_port, activate,
                                        run,         nullptr,     cleanup,      extension_data};
    return &descriptors[index];
}
