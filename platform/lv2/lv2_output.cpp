// What a chain gave for what it heard: a sound of its own, silence, its
// input unchanged, or its input times a constant. A sampler or a convolver
// with nothing loaded gives one of the last three, at the cost of a copy,
// and its count would say nothing.
#include "platform/lv2/lv2_internal.h"

#include <algorithm>
#include <cmath>

namespace {
// -100 dBFS: far below our input's level and any plugin's own noise floor
// that means to be heard.
constexpr float SILENCE = 1e-5f;
// A few float roundings of the input's peak.
constexpr double SCALED_TOLERANCE = 1e-6;
} // namespace

namespace {
// Whether `out` is `in` times one constant throughout (1: unchanged), to
// the rounding of a float multiplication.
bool scaled(const float* out, const float* in, uint32_t frames) {
    float peak = 0.0f;
    uint32_t largest = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        if (std::fabs(in[i]) > peak) {
            peak = std::fabs(in[i]);
            largest = i;
        }
    }
    if (peak < SILENCE) {
        return false;
    }
    const double gain = static_cast<double>(out[largest]) / in[largest];
    const double tolerance = SCALED_TOLERANCE * std::fabs(gain) * peak;
    for (uint32_t i = 0; i < frames; ++i) {
        if (std::fabs(out[i] - gain * in[i]) > tolerance) {
            return false;
        }
    }
    return true;
}
} // namespace

PluginOutputShape output_shape(const float* audio, uint32_t frames,
                               const std::vector<uint32_t>& input_source, uint32_t first_output,
                               uint32_t outputs) {
    if (outputs == 0) {
        return PLUGIN_OUTPUT_NONE;
    }
    const bool heard = !input_source.empty();
    bool silent = true, unchanged = heard, gain = heard;
    for (uint32_t c = 0; c < outputs; ++c) {
        const float* out = audio + static_cast<size_t>(first_output + c) * frames;
        const uint32_t source =
            heard ? input_source[std::min<size_t>(c, input_source.size() - 1)] : SILENT_CHANNEL;
        const float* in = audio + static_cast<size_t>(source) * frames;
        for (uint32_t i = 0; i < frames; ++i) {
            silent = silent && std::fabs(out[i]) < SILENCE;
            unchanged = unchanged && out[i] == in[i];
        }
        gain = gain && scaled(out, in, frames);
    }
    if (unchanged) {
        return PLUGIN_OUTPUT_INPUT;
    }
    return silent ? PLUGIN_OUTPUT_SILENT : gain ? PLUGIN_OUTPUT_SCALED : PLUGIN_OUTPUT_SOUND;
}
