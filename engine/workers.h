// The three test workers. Each is a thread entry that ignores its parameter,
// prepares its data untimed, runs its kernel on blocks while the run flag is
// 1, and publishes its figures into measure_state. Each returns 0.
#pragma once

#include "engine/circular_filter.h"
#include "engine/signals.h"

#include <cstdint>

uint32_t int_filter_worker(void* parameter);
uint32_t float_filter_worker(void* parameter);
uint32_t mix_worker(void* parameter);

// Ring set-up shared by the filter workers and the real-time streams:
// positions at the ring starts, state 0, the given coefficients, rings of
// `samples` samples.
template <typename Sample>
void setup_filter(CircularFilter<Sample>* filter, Sample* input, Sample* output, Sample feedback,
                  Sample gain, uint32_t samples = TABLE_SAMPLES) {
    filter->state = Sample{};
    filter->feedback = feedback;
    filter->gain = gain;
    filter->in_start = filter->in_pos = input;
    filter->in_end = input + samples;
    filter->out_start = filter->out_pos = output;
    filter->out_end = output + samples;
}

// The mix test's buffers and its position on the bus.
struct MixBus {
    float* bus;
    float* tracks[MIX_TRACKS];
    float gains[MIX_TRACKS];
    uint32_t position; // bus block mixed next, 0 .. BUS_BLOCKS - 1
};

// One unit of the mix test: clears bus block `position`, mixes the same
// block of every track into it in track order, then moves to the next block,
// wrapping after the last.
void mix_next_block(MixBus* mix);
