// The measurement state shared by the interface thread and the test worker,
// the constants common to the three tests, and the arithmetic that turns a
// block count and an elapsed time into the figures the panel shows.
#pragma once

#include "engine/signals.h"
#include "platform/platform_engine.h"

#include <atomic>
#include <cstdint>

constexpr int64_t SAMPLE_RATE_44100 = 44100;
constexpr int64_t SAMPLE_RATE_48000 = 48000;

// The three 0.5 factors of the test signals and filters; initialised once,
// never changed.
extern const float SIGNAL_AMPLITUDE;
extern const float FEEDBACK_FACTOR;
extern const float GAIN_FACTOR;

struct FilterResult {
    int32_t finished;
    int32_t cycles_44100;
    int32_t cycles_48000;
};

struct MixResult {
    int32_t finished;
    int32_t tracks_44100;
    int32_t tracks_48000;
    uint32_t mfloats_per_s;
};

// Bookkeeping of a test's last timed loop, for hosts that report more than
// the panel does (the console runner). Written with the figures.
struct LoopTrace {
    uint32_t blocks;
    int64_t elapsed_ms;     // -1 when it could not be computed
    int32_t figures_stored; // 1 when that loop stored its figures
};

struct MeasureState {
    std::atomic<int32_t> running;
    int64_t counter_frequency;
    FilterResult int_result;
    FilterResult float_result;
    MixResult mix_result;
    LoopTrace int_trace;
    LoopTrace float_trace;
    LoopTrace mix_trace;
};

extern MeasureState measure_state;

// Stores the counter's ticks per second into measure_state; false (and 0
// stored) when the platform has no high-resolution counter.
bool read_counter_frequency();

// True while the worker should go on: the run flag equals exactly 1. The
// load acquires: a worker that sees the flag drop also sees everything the
// interface thread did before clearing it, such as reading this test's
// result block for a paint, so the worker's later write of that block is
// ordered after the read. On x86 it is the same plain load as a relaxed one.
inline bool keep_running() {
    return measure_state.running.load(std::memory_order_acquire) == 1;
}

// Whole milliseconds between two counter reads; false when no figure can be
// formed (frequency 0, or less than 1 ms).
bool elapsed_ms_between(int64_t start, int64_t end, int64_t frequency, int64_t* elapsed_ms);

// Units of work done in one sample period at `rate` (low 32 bits stored).
int32_t units_per_sample_period(uint64_t work, int64_t elapsed_ms, int64_t rate);

// Transfer rate in units of 2^20 floats per second, two floats per
// track-sample; saturates at the field's largest value instead of wrapping.
uint32_t mfloats_per_second(uint64_t work, int64_t elapsed_ms);

// The end of a timed loop, common to the three workers: records the trace
// and, when an elapsed time can be formed, returns true with elapsed_ms set.
bool close_timed_loop(LoopTrace* trace, uint32_t blocks, int64_t start, int64_t end,
                      int64_t* elapsed_ms);

// Runs the timed loop of the run protocol: reads the counter, calls
// unit() while the run flag is 1, counting blocks and yielding after
// each, then reads the counter again.
struct TimedLoop {
    int64_t start;
    int64_t end;
    uint32_t blocks;
};
template <typename Unit> TimedLoop run_timed_loop(Unit unit) {
    TimedLoop loop{};
    loop.start = platform_counter_now();
    while (keep_running()) {
        unit();
        loop.blocks += 1;
        platform_yield();
    }
    loop.end = platform_counter_now();
    return loop;
}
