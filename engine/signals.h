// Sizes and signals of the three tests' data, prepared before timing.
#pragma once

#include <cstdint>

constexpr uint32_t TABLE_SAMPLES = 50000;  // each filter ring
constexpr uint32_t TRACK_SAMPLES = 102400; // each mix track and the bus
constexpr uint32_t BUS_BLOCKS = 200;       // TRACK_SAMPLES / BLOCK_SAMPLES
constexpr uint32_t MIX_TRACKS = 64;
constexpr uint32_t MIX_BLOCK_WORK = 32768; // track-samples per bus block
extern const float TRACK_GAIN;             // 0.1 in single precision

// input[i] = trunc(sin(i * 0.0002f) * 0.5 * 32767), i < TABLE_SAMPLES.
void fill_int_signal(int32_t* table);
// input[i] = sin(i * 0.0002f) * 0.5, rounded to single precision.
void fill_float_signal(float* table);
// track m, sample l = sin(l * m * 0.0001f) * 0.5, for l < TRACK_SAMPLES and
// m < MIX_TRACKS. The tracks are written sample by sample across all of them
// (l outer, m inner): the order in which their pages are first touched decides
// where they lie in physical memory, and so how the 64 streams share the
// caches while they are mixed.
void fill_tracks(float* const tracks[MIX_TRACKS]);

// Q15 coefficient from a factor: trunc(factor * 32767), 16383 for 0.5.
int32_t q15_from_factor(float factor);
