// Single-precision one-pole filter over circular buffers. Per sample: one
// load, two multiplies, one add (never fused), one store and two wrap tests.
#include "engine/circular_filter.h"

void filter_float(FloatFilter* filter, uint32_t count) {
    float state = filter->state;
    const float feedback = filter->feedback;
    const float gain = filter->gain;
    float* const in_end = filter->in_end;
    float* const out_end = filter->out_end;
    float* const in_start = filter->in_start;
    float* const out_start = filter->out_start;
    float* in_pos = filter->in_pos;
    float* out_pos = filter->out_pos;

    for (uint32_t n = 0; n < count; ++n) {
        state = *in_pos + state * feedback;
        if (++in_pos == in_end) {
            in_pos = in_start;
        }
        *out_pos = state * gain;
        if (++out_pos == out_end) {
            out_pos = out_start;
        }
    }

    filter->state = state;
    filter->in_pos = in_pos;
    filter->out_pos = out_pos;
}
