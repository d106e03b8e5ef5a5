#include "engine/signals.h"

#include "engine/measure_state.h"

#include <cmath>

const float TRACK_GAIN = 0.1f;

namespace {
const float FILTER_PHASE_INCREMENT = 0.0002f;
const float TRACK_PHASE_INCREMENT = 0.0001f;

double filter_sine(uint32_t i) {
    return std::sin(static_cast<double>(i) * static_cast<double>(FILTER_PHASE_INCREMENT)) *
           static_cast<double>(SIGNAL_AMPLITUDE);
}
} // namespace

void fill_int_signal(int32_t* table) {
    for (uint32_t i = 0; i < TABLE_SAMPLES; ++i) {
        table[i] = static_cast<int32_t>(filter_sine(i) * 32767.0);
    }
}

void fill_float_signal(float* table) {
    for (uint32_t i = 0; i < TABLE_SAMPLES; ++i) {
        table[i] = static_cast<float>(filter_sine(i));
    }
}

void fill_tracks(float* const tracks[MIX_TRACKS]) {
    const double increment = static_cast<double>(TRACK_PHASE_INCREMENT);
    const double amplitude = static_cast<double>(SIGNAL_AMPLITUDE);
    for (uint32_t l = 0; l < TRACK_SAMPLES; ++l) {
        for (uint32_t m = 0; m < MIX_TRACKS; ++m) {
            double phase = static_cast<double>(l * m) * increment;
            tracks[m][l] = static_cast<float>(std::sin(phase) * amplitude);
        }
    }
}

int32_t q15_from_factor(float factor) {
    return static_cast<int32_t>(factor * 32767.0f);
}
