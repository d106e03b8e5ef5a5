#include "bench/mix_reference.h"

#include "engine/measure_state.h"

#include <emmintrin.h>

namespace {
__m128 read_block(const float* block, __m128 sum) {
    __m128 a = _mm_setzero_ps();
    __m128 b = _mm_setzero_ps();
    __m128 c = _mm_setzero_ps();
    for (uint32_t i = 0; i < BLOCK_SAMPLES; i += 16) {
        sum = _mm_add_ps(sum, _mm_loadu_ps(block + i));
        a = _mm_add_ps(a, _mm_loadu_ps(block + i + 4));
        b = _mm_add_ps(b, _mm_loadu_ps(block + i + 8));
        c = _mm_add_ps(c, _mm_loadu_ps(block + i + 12));
    }
    return _mm_add_ps(_mm_add_ps(sum, a), _mm_add_ps(b, c));
}
} // namespace

float mix_reference_block(MixBus* mix) {
    const uint32_t offset = mix->position * BLOCK_SAMPLES;
    __m128 sum = _mm_setzero_ps();
    for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
        sum = read_block(mix->tracks[t] + offset, sum);
    }
    float* bus = mix->bus + offset;
    for (uint32_t i = 0; i < BLOCK_SAMPLES; i += 4) {
        _mm_storeu_ps(bus + i, _mm_add_ps(_mm_loadu_ps(bus + i), sum));
    }
    mix->position = mix->position + 1 == BUS_BLOCKS ? 0 : mix->position + 1;
    return _mm_cvtss_f32(sum);
}
