// Start/stop cycles of each worker on real threads, the stop falling at a
// random moment from 0 to 2 ms after the start: during allocation, during
// data preparation or in the timed loop. Every cycle must end (a watchdog
// aborts the program on a hang), set `finished`, publish figures that match
// its own loop, and give back every buffer.
#include "engine/measure_state.h"
#include "engine/workers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

// Far beyond any cycle, even under a sanitizer: only a hang reaches it.
constexpr auto HANG_DEADLINE = std::chrono::seconds(60);
constexpr uint32_t MAX_STOP_DELAY_US = 2000;
constexpr uint32_t SEED = 20240605;

struct Watchdog {
    std::mutex lock;
    std::condition_variable wake;
    bool done;
    Clock::time_point last_progress;
    const char* what;
    uint32_t cycle;
    std::thread thread;
};

void watch(Watchdog* dog) {
    std::unique_lock<std::mutex> held(dog->lock);
    while (!dog->done) {
        dog->wake.wait_for(held, std::chrono::milliseconds(200));
        if (!dog->done && Clock::now() - dog->last_progress > HANG_DEADLINE) {
            std::fprintf(stderr, "hang: %s cycle %u did not end\n", dog->what, dog->cycle);
            std::abort();
        }
    }
}

void watchdog_start(Watchdog* dog, const char* what) {
    dog->done = false;
    dog->what = what;
    dog->cycle = 0;
    dog->last_progress = Clock::now();
    dog->thread = std::thread(watch, dog);
}

void watchdog_progress(Watchdog* dog, uint32_t cycle) {
    std::lock_guard<std::mutex> held(dog->lock);
    dog->cycle = cycle;
    dog->last_progress = Clock::now();
}

void watchdog_stop(Watchdog* dog) {
    {
        std::lock_guard<std::mutex> held(dog->lock);
        dog->done = true;
    }
    dog->wake.notify_all();
    dog->thread.join();
}

struct StressCase {
    const char* name;
    WorkerEntry entry;
    uint32_t cycles;
    uint64_t units_per_block;
    int32_t* finished;
    int32_t* figure_44100;
    LoopTrace* trace;
};

// Blocks done before the stop, per cycle, tallied for the log.
struct StopTally {
    uint32_t before_loop; // stopped while allocating or preparing data
    uint32_t in_loop;
};

constexpr uint32_t UNWRITTEN = 0xffffffffu;

void run_one_cycle(const StressCase& test, uint32_t delay_us) {
    *test.finished = 0;
    test.trace->blocks = UNWRITTEN;
    measure_state.running.store(1);
    PlatformThread* thread = platform_thread_start(test.entry);
    ASSERT_NE(thread, nullptr);
    if (delay_us > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    }
    measure_state.running.store(0);
    platform_thread_wait(thread);
    platform_thread_close(thread);
}

// After the join: finished set, the trace written by this cycle, and the
// figures (when stored) those of the cycle's own block count and time.
void check_cycle(const StressCase& test, uint32_t cycle, int32_t live_before) {
    const LoopTrace& trace = *test.trace;
    EXPECT_EQ(*test.finished, 1) << test.name << " cycle " << cycle;
    EXPECT_NE(trace.blocks, UNWRITTEN) << test.name << " cycle " << cycle;
    EXPECT_EQ(alloc_seam_stats().live, live_before) << test.name << " cycle " << cycle;
    if (trace.figures_stored == 1) {
        uint64_t work = static_cast<uint64_t>(trace.blocks) * test.units_per_block;
        EXPECT_EQ(*test.figure_44100,
                  units_per_sample_period(work, trace.elapsed_ms, SAMPLE_RATE_44100))
            << test.name << " cycle " << cycle;
    }
}

void stress(const StressCase& test) {
    ASSERT_TRUE(read_counter_frequency());
    alloc_seam_arm(0);
    const int32_t live_before = alloc_seam_stats().live;
    std::mt19937 random(SEED);
    std::uniform_int_distribution<uint32_t> delay(0, MAX_STOP_DELAY_US);
    StopTally tally{};
    Watchdog dog;
    watchdog_start(&dog, test.name);
    Clock::time_point start = Clock::now();
    for (uint32_t cycle = 0; cycle < test.cycles && !::testing::Test::HasFailure(); ++cycle) {
        run_one_cycle(test, delay(random));
        check_cycle(test, cycle, live_before);
        (test.trace->blocks == 0 ? tally.before_loop : tally.in_loop) += 1;
        watchdog_progress(&dog, cycle);
    }
    watchdog_stop(&dog);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s: %u cycles in %.1f s, %u stopped before the timed loop, %u in it\n", test.name,
                test.cycles, seconds, tally.before_loop, tally.in_loop);
}
} // namespace

TEST(Stress, IntegerWorkerStartedAndStopped2000Times) {
    stress({"integer", int_filter_worker, 2000, BLOCK_SAMPLES, &measure_state.int_result.finished,
            &measure_state.int_result.cycles_44100, &measure_state.int_trace});
}

TEST(Stress, FloatWorkerStartedAndStopped2000Times) {
    stress({"float", float_filter_worker, 2000, BLOCK_SAMPLES, &measure_state.float_result.finished,
            &measure_state.float_result.cycles_44100, &measure_state.float_trace});
}

// The mix worker's preparation takes a tenth of a second or more, so every
// one of these stops falls before its timed loop.
TEST(Stress, MixWorkerStartedAndStopped50Times) {
    stress({"mix", mix_worker, 50, MIX_BLOCK_WORK, &measure_state.mix_result.finished,
            &measure_state.mix_result.tracks_44100, &measure_state.mix_trace});
}
