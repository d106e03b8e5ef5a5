// The four gains that labour: a serial chain of multiply-adds a sample,
// heavier in phases of audio time (frames run since activate, so that
// instances activated together are heavy together): a burst of 4 times the
// work for 50 ms of every 400 ms, a slow phase of 1.6 times for 1 s of
// every 3 s, and each of those always; the late load labours as a burst
// always does.
#include "tests/plugins/test_plugin.h"

namespace {
// BASE_STEPS dependent multiply-adds a sample, some 15 to 20 ns on a
// current x86 core, x = x * LEAK + DRIVE each, the first one also taking
// the input. The leak is slow, so that x remembers how much work was done,
// and it settles at REST; what it strays from REST is mixed into the output
// some 60 dB down.
constexpr uint32_t BASE_STEPS = 10;
constexpr uint32_t BURST_STEPS = 4 * BASE_STEPS;
constexpr uint32_t SLOW_STEPS = BASE_STEPS * 16 / 10;
constexpr float LEAK = 1.0f - 0x1.0p-10f;
constexpr float DRIVE = 0.5f * 0x1.0p-10f; // (1 - LEAK) * REST
constexpr float REST = 0.5f;
constexpr float INPUT_DRIVE = 0x1.0p-10f;
constexpr float MIX = 0x1.0p-10f;
constexpr double BURST_S = 0.05, BURST_EVERY_S = 0.4;
constexpr double SLOW_S = 1.0, SLOW_EVERY_S = 3.0;

uint64_t frames_of(double seconds, double rate) {
    double frames = seconds * rate + 0.5;
    return frames < 1.0 ? 1 : static_cast<uint64_t>(frames);
}

// Heavy for `heavy_s` of every `every_s` seconds; both 0: always.
void set_phases(Plugin* plugin, double rate, double heavy_s, double every_s, uint32_t steps) {
    plugin->cycle_frames = every_s > 0.0 ? frames_of(every_s, rate) : 1;
    plugin->heavy_frames = every_s > 0.0 ? frames_of(heavy_s, rate) : 1;
    plugin->heavy_steps = steps;
}
} // namespace

void labour_prepare(Plugin* plugin, double rate) {
    switch (plugin->kind) {
    case BURST:
        set_phases(plugin, rate, BURST_S, BURST_EVERY_S, BURST_STEPS);
        break;
    case BURST_ALWAYS:
    case LATE_LOAD:
        set_phases(plugin, rate, 0.0, 0.0, BURST_STEPS);
        break;
    case SLOW_PHASE:
        set_phases(plugin, rate, SLOW_S, SLOW_EVERY_S, SLOW_STEPS);
        break;
    case SLOW_ALWAYS:
        set_phases(plugin, rate, 0.0, 0.0, SLOW_STEPS);
        break;
    default:
        break;
    }
}

// The first frame after activate is the cycle's first, the chain at rest.
void labour_restart(Plugin* plugin) {
    plugin->at = 0;
    plugin->x = REST;
}

// The gain, and the chain's steps for each sample, heavy_steps in the heavy
// part of the cycle; phase is 1 when any sample of the block was heavy.
void labour(Plugin* plugin, uint32_t frames) {
    const float* in = port(plugin, 0);
    float* out = port(plugin, 1);
    float gain = *port(plugin, 2);
    float x = plugin->x;
    uint64_t at = plugin->at;
    bool heavy_seen = false;
    for (uint32_t i = 0; i < frames; ++i) {
        bool heavy = at < plugin->heavy_frames;
        heavy_seen = heavy_seen || heavy;
        at = at + 1 == plugin->cycle_frames ? 0 : at + 1;
        uint32_t steps = heavy ? plugin->heavy_steps : BASE_STEPS;
        x = x * LEAK + (DRIVE + in[i] * INPUT_DRIVE);
        for (uint32_t k = 1; k < steps; ++k) {
            x = x * LEAK + DRIVE;
        }
        out[i] = in[i] * gain + (x - REST) * MIX;
    }
    plugin->x = x;
    plugin->at = at;
    *port(plugin, 3) = heavy_seen ? 1.0f : 0.0f;
}
