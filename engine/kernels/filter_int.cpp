// Q15 one-pole filter over circular buffers. Per sample: one load, two
// multiplies, one add, one store and two wrap tests, with the dependence
// through `state` carried from sample to sample.
#include "engine/circular_filter.h"

namespace {
// Low 32 bits of the signed 32 x 32-bit product, shifted right
// arithmetically by 15 (rounding toward minus infinity).
inline int32_t q15_scale(int32_t value, int32_t factor) {
    uint32_t low = static_cast<uint32_t>(value) * static_cast<uint32_t>(factor);
    return static_cast<int32_t>(low) >> 15;
}
} // namespace

void filter_int(IntFilter* filter, uint32_t count) {
    int32_t state = filter->state;
    const int32_t feedback = filter->feedback;
    const int32_t gain = filter->gain;
    int32_t* const in_end = filter->in_end;
    int32_t* const out_end = filter->out_end;
    int32_t* const in_start = filter->in_start;
    int32_t* const out_start = filter->out_start;
    int32_t* in_pos = filter->in_pos;
    int32_t* out_pos = filter->out_pos;

    for (uint32_t n = 0; n < count; ++n) {
        int32_t echo = q15_scale(state, feedback);
        state = static_cast<int32_t>(static_cast<uint32_t>(*in_pos) + static_cast<uint32_t>(echo));
        if (++in_pos == in_end) {
            in_pos = in_start;
        }
        int32_t output = q15_scale(state, gain);
        if (++out_pos == out_end) {
            out_pos = out_start;
        }
        *out_pos = output;
    }

    filter->state = state;
    filter->in_pos = in_pos;
    filter->out_pos = out_pos;
}
