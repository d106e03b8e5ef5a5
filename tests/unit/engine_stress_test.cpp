// Start/stop cycles of each worker on real threads, the stop falling at a
// random moment from 0 to 2 ms after the start: during allocation, during
// data preparation or in the timed loop. Every cycle must end (CTest's
// time-out catches a hang), set `finished`, publish figures that match its
// own loop, and give back every buffer.
#include "engine/measure_state.h"
#include "engine/signals.h"
#include "engine/worker_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {
struct StressCase {
    uint32_t test; // index into RUN_SCHEDULE
    uint32_t cycles;
    uint64_t units_per_block;
    int32_t* finished;
    int32_t* figure_44100;
    LoopTrace* trace;
};

constexpr uint32_t UNWRITTEN = 0xffffffffu;

void stress(const StressCase& test) {
    ASSERT_TRUE(read_counter_frequency());
    alloc_seam_arm(0);
    const int32_t live_before = alloc_seam_stats().live;
    std::mt19937 random(20240605);
    std::uniform_int_distribution<uint32_t> delay_us(0, 2000);
    uint32_t stopped_in_loop = 0;
    for (uint32_t cycle = 0; cycle < test.cycles && !::testing::Test::HasFailure(); ++cycle) {
        *test.finished = 0;
        test.trace->blocks = UNWRITTEN;
        PlatformThread* worker = worker_start(RUN_SCHEDULE[test.test].entry);
        ASSERT_NE(worker, nullptr);
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        worker_stop(worker);

        const LoopTrace& trace = *test.trace;
        EXPECT_EQ(*test.finished, 1) << "cycle " << cycle;
        EXPECT_NE(trace.blocks, UNWRITTEN) << "cycle " << cycle;
        EXPECT_EQ(alloc_seam_stats().live, live_before) << "cycle " << cycle;
        if (trace.figures_stored == 1) {
            uint64_t work = static_cast<uint64_t>(trace.blocks) * test.units_per_block;
            EXPECT_EQ(*test.figure_44100,
                      units_per_sample_period(work, trace.elapsed_ms, SAMPLE_RATE_44100))
                << "cycle " << cycle;
        }
        stopped_in_loop += trace.blocks > 0 ? 1 : 0;
    }
    std::printf("%s: %u cycles, %u stopped in the timed loop\n", RUN_SCHEDULE[test.test].name,
                test.cycles, stopped_in_loop);
}
} // namespace

TEST(Stress, IntegerWorkerStartedAndStopped2000Times) {
    stress({0, 2000, BLOCK_SAMPLES, &measure_state.int_result.finished,
            &measure_state.int_result.cycles_44100, &measure_state.int_trace});
}

TEST(Stress, FloatWorkerStartedAndStopped2000Times) {
    stress({1, 2000, BLOCK_SAMPLES, &measure_state.float_result.finished,
            &measure_state.float_result.cycles_44100, &measure_state.float_trace});
}

// The mix worker's preparation takes a tenth of a second or more, so every
// one of these stops falls before its timed loop.
TEST(Stress, MixWorkerStartedAndStopped50Times) {
    stress({2, 50, MIX_BLOCK_WORK, &measure_state.mix_result.finished,
            &measure_state.mix_result.tracks_44100, &measure_state.mix_trace});
}
