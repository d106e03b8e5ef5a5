// The record of the two filter kernels: a one-pole recursive filter with an
// output gain, reading one circular buffer and writing another. The integer
// variant works in Q15 on 32-bit samples, the float variant in single
// precision.
#pragma once

#include <cstdint>

template <typename Sample> struct CircularFilter {
    Sample state;    // running value, carried from call to call
    Sample feedback; // feedback coefficient (Q15 in the integer variant)
    Sample gain;     // output gain (Q15 in the integer variant)
    Sample* in_end;  // one past the last input sample
    Sample* out_end; // one past the last output slot
    Sample* in_start;
    Sample* out_start;
    Sample* in_pos;  // next input sample to read
    Sample* out_pos; // integer: slot written last; float: next slot to write
};

using IntFilter = CircularFilter<int32_t>;
using FloatFilter = CircularFilter<float>;

// One bus block of one track, as the mix kernel takes it.
struct MixTrackBlock {
    float* bus;
    const float* track;
    float track_gain;
};

// The measured kernels, each in its own translation unit built without
// vectorisation, unrolling or floating-point contraction.
void filter_int(IntFilter* filter, uint32_t count);
void filter_float(FloatFilter* filter, uint32_t count);
void mix_add(const MixTrackBlock* block, uint32_t count);
void clear_block(void* block, uint32_t bytes);
