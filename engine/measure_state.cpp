#include "engine/measure_state.h"

#include "platform/platform_engine.h"

#include <limits>

const float SIGNAL_AMPLITUDE = 0.5f;
const float FEEDBACK_FACTOR = 0.5f;
const float GAIN_FACTOR = 0.5f;

MeasureState measure_state{};

bool read_counter_frequency() {
    int64_t frequency = 0;
    if (!platform_counter_frequency(&frequency) || frequency <= 0) {
        measure_state.counter_frequency = 0;
        return false;
    }
    measure_state.counter_frequency = frequency;
    return true;
}

bool elapsed_ms_between(int64_t start, int64_t end, int64_t frequency, int64_t* elapsed_ms) {
    if (frequency == 0) {
        return false;
    }
    int64_t ticks = end - start;
    int64_t ms = ticks * 1000 / frequency;
    if (ms < 1) {
        return false;
    }
    *elapsed_ms = ms;
    return true;
}

int32_t units_per_sample_period(uint64_t work, int64_t elapsed_ms, int64_t rate) {
    auto quotient = static_cast<int64_t>(work * 1000 / static_cast<uint64_t>(elapsed_ms * rate));
    return static_cast<int32_t>(static_cast<uint32_t>(quotient));
}

uint32_t mfloats_per_second(uint64_t work, int64_t elapsed_ms) {
    uint64_t floats_per_second = work * 2000 / static_cast<uint64_t>(elapsed_ms);
    uint64_t mfloats = floats_per_second >> 20;
    constexpr uint64_t LARGEST = std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(mfloats > LARGEST ? LARGEST : mfloats);
}

bool close_timed_loop(LoopTrace* trace, uint32_t blocks, int64_t start, int64_t end,
                      int64_t* elapsed_ms) {
    bool stored = elapsed_ms_between(start, end, measure_state.counter_frequency, elapsed_ms);
    trace->blocks = blocks;
    trace->elapsed_ms = stored ? *elapsed_ms : -1;
    trace->figures_stored = stored ? 1 : 0;
    return stored;
}
