// The test input: the first plugin's audio (pink noise, a sine or
// silence) and the note pattern, the same for every load.
#include "platform/lv2/lv2_internal.h"

#include <lv2/atom/util.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// The level of a track's signal in a mix: well below clipping, well above
// the noise floor, as recordings are made.
constexpr double INPUT_DBFS = -18.0;
// Samples the pink-noise filter runs before a block is kept, so that its
// slowest pole has settled.
constexpr uint32_t NOISE_SETTLE = 8192;
// The sine's frequency, rounded to whole cycles a block so that the block
// repeats without a click.
constexpr double SINE_HZ = 1000.0;
constexpr double PI = 3.14159265358979323846;
// The note pattern: a note every quarter second, held a fifth of a second,
// walking up a chord: voices sound most of the time without piling up.
constexpr double NOTE_EVERY_S = 0.25;
constexpr double NOTE_HOLD_S = 0.2;
constexpr uint8_t NOTES[] = {60, 64, 67, 72};
constexpr uint8_t VELOCITY = 100;
// At most this many note events a period: at 8192 samples, the longest
// block, and 8 kHz a pattern this slow needs ten.
constexpr uint32_t MAX_PERIOD_EVENTS = 16;
static_assert(sizeof(LV2_Atom_Sequence) + MAX_PERIOD_EVENTS * 24 <= NOTE_BYTES);
uint64_t mix_seed(uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return (value ^ (value >> 31)) | 1;
}

double white(uint64_t* state) {
    uint64_t x = *state;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    *state = x;
    return static_cast<double>((x * 2685821657736338717ULL) >> 11) * 0x1.0p-53 * 2.0 - 1.0;
}

// Pink noise (the filter of P. Kellet's "refined" method, -3 dB an octave),
// scaled so that the block's RMS level is INPUT_DBFS.
void fill_noise(float* block, uint32_t frames, uint64_t seed) {
    uint64_t state = mix_seed(seed);
    double b[7] = {};
    double sum = 0.0;
    for (uint32_t i = 0; i < NOISE_SETTLE + frames; ++i) {
        double w = white(&state);
        b[0] = 0.99886 * b[0] + w * 0.0555179;
        b[1] = 0.99332 * b[1] + w * 0.0750759;
        b[2] = 0.96900 * b[2] + w * 0.1538520;
        b[3] = 0.86650 * b[3] + w * 0.3104856;
        b[4] = 0.55000 * b[4] + w * 0.5329522;
        b[5] = -0.7616 * b[5] - w * 0.0168980;
        double pink = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
        b[6] = w * 0.115926;
        if (i >= NOISE_SETTLE) {
            block[i - NOISE_SETTLE] = static_cast<float>(pink);
            sum += pink * pink;
        }
    }
    double gain = std::pow(10.0, INPUT_DBFS / 20.0) / std::sqrt(sum / frames);
    for (uint32_t i = 0; i < frames; ++i) {
        block[i] = static_cast<float>(block[i] * gain);
    }
}

double sine_hz(uint32_t frames, uint32_t rate) {
    double cycles = std::max(1.0, std::round(SINE_HZ * frames / rate));
    return cycles * rate / frames;
}

} // namespace

void fill_input(float* block, uint32_t frames, uint32_t rate, PluginInput input, uint64_t seed) {
    if (input == PLUGIN_NOISE) {
        fill_noise(block, frames, seed);
        return;
    }
    double amplitude =
        input == PLUGIN_SINE ? std::sqrt(2.0) * std::pow(10.0, INPUT_DBFS / 20.0) : 0;
    double increment = 2.0 * PI * sine_hz(frames, rate) / rate;
    for (uint32_t i = 0; i < frames; ++i) {
        block[i] = static_cast<float>(amplitude * std::sin(increment * i));
    }
}

std::string input_text(const PluginLoadOrder* order, uint32_t channels) {
    char level[64];
    std::snprintf(level, sizeof level, " at %.0f dBFS", INPUT_DBFS);
    std::string what = order->input == PLUGIN_NOISE ? std::string("pink noise") + level
                       : order->input == PLUGIN_SINE
                           ? "a " +
                                 std::to_string(std::lround(sine_hz(order->frames, order->rate))) +
                                 " Hz sine" + level
                           : std::string("silence");
    if (channels == 0) {
        return "none: the first plugin has no audio input";
    }
    return what + ", " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

void write_notes(uint64_t* buffer, const NoteTypes* types, uint64_t start, uint32_t frames,
                 uint32_t rate) {
    struct Note {
        int64_t frame;
        uint8_t status, key, velocity;
    };
    Note notes[MAX_PERIOD_EVENTS];
    uint32_t count = 0;
    auto every = std::max<uint64_t>(1, static_cast<uint64_t>(NOTE_EVERY_S * rate));
    auto hold = static_cast<uint64_t>(NOTE_HOLD_S * rate);
    uint64_t end = start + frames;
    uint64_t first = start > hold ? (start - hold) / every : 0;
    for (uint64_t k = first; k * every < end && count + 2 <= MAX_PERIOD_EVENTS; ++k) {
        uint8_t key = NOTES[k % (sizeof NOTES)];
        if (k * every + hold >= start && k * every + hold < end) {
            notes[count++] = Note{static_cast<int64_t>(k * every + hold - start), 0x80, key, 0};
        }
        if (k * every >= start) {
            notes[count++] = Note{static_cast<int64_t>(k * every - start), 0x90, key, VELOCITY};
        }
    }
    std::stable_sort(notes, notes + count,
                     [](const Note& a, const Note& b) { return a.frame < b.frame; });
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer);
    sequence->atom.type = types->sequence;
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->body.unit = 0;
    sequence->body.pad = 0;
    for (uint32_t i = 0; i < count; ++i) {
        auto* event = reinterpret_cast<LV2_Atom_Event*>(
            reinterpret_cast<uint8_t*>(&sequence->body) + sequence->atom.size);
        event->time.frames = notes[i].frame;
        event->body.type = types->midi;
        event->body.size = 3;
        auto* bytes = reinterpret_cast<uint8_t*>(event + 1);
        bytes[0] = notes[i].status;
        bytes[1] = notes[i].key;
        bytes[2] = notes[i].velocity;
        sequence->atom.size += lv2_atom_pad_size(sizeof(LV2_Atom_Event) + 3);
    }
}
