// The integer and float filter workers: one protocol, two sample types.
#include "engine/measure_state.h"
#include "engine/workers.h"

namespace {
template <typename Sample> struct FilterRun {
    void (*fill)(Sample* table);
    void (*kernel)(CircularFilter<Sample>* filter, uint32_t count);
    Sample feedback;
    Sample gain;
    FilterResult* result;
    LoopTrace* trace;
};

template <typename Sample> uint32_t run_filter_worker(const FilterRun<Sample>& test) {
    auto* input = static_cast<Sample*>(platform_alloc(TABLE_SAMPLES * sizeof(Sample)));
    auto* output = static_cast<Sample*>(platform_alloc(TABLE_SAMPLES * sizeof(Sample)));
    if (input == nullptr || output == nullptr) {
        platform_free(input);
        platform_free(output);
        return 0;
    }
    test.fill(input);
    CircularFilter<Sample> filter{};
    setup_filter(&filter, input, output, test.feedback, test.gain);

    TimedLoop loop = run_timed_loop([&filter, &test] { test.kernel(&filter, BLOCK_SAMPLES); });

    test.result->finished = 1;
    platform_free(input);
    platform_free(output);

    int64_t elapsed_ms = 0;
    if (close_timed_loop(test.trace, loop.blocks, loop.start, loop.end, &elapsed_ms)) {
        uint64_t work = static_cast<uint64_t>(loop.blocks) * BLOCK_SAMPLES;
        test.result->cycles_44100 = units_per_sample_period(work, elapsed_ms, SAMPLE_RATE_44100);
        test.result->cycles_48000 = units_per_sample_period(work, elapsed_ms, SAMPLE_RATE_48000);
    }
    return 0;
}
} // namespace

uint32_t int_filter_worker(void* /*parameter*/) {
    FilterRun<int32_t> test{fill_int_signal,
                            filter_int,
                            q15_from_factor(FEEDBACK_FACTOR),
                            q15_from_factor(GAIN_FACTOR),
                            &measure_state.int_result,
                            &measure_state.int_trace};
    return run_filter_worker(test);
}

uint32_t float_filter_worker(void* /*parameter*/) {
    FilterRun<float> test{fill_float_signal,
                          filter_float,
                          FEEDBACK_FACTOR,
                          GAIN_FACTOR,
                          &measure_state.float_result,
                          &measure_state.float_trace};
    return run_filter_worker(test);
}
