// Sizes and signals of the three tests' data, prepared before timing.
#pragma once

#include <cstdint>

constexpr uint32_t BLOCK_SAMPLES = 512;    // a unit of work: one block of a stream
constexpr uint32_t TABLE_SAMPLES = 50000;  // each filter ring
constexpr uint32_t TRACK_SAMPLES = 102400; // each mix track and the bus
constexpr uint32_t BUS_BLOCKS = TRACK_SAMPLES / BLOCK_SAMPLES;
// The mix wraps only at a block's end: the bus must be whole blocks.
static_assert(BUS_BLOCKS * BLOCK_SAMPLES == TRACK_SAMPLES, "the bus is not whole blocks");
constexpr uint32_t MIX_TRACKS = 64;
extern const float TRACK_GAIN; // 0.1 in single precision
// Track-samples mixed into one bus block.
constexpr uint32_t MIX_BLOCK_WORK = MIX_TRACKS * BLOCK_SAMPLES;

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
