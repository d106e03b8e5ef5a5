// The three workers run the measurement protocol: allocation failures, a
// flag already cleared, a missing counter, and real threads stopped by the
// flag. (A second run keeping the first run's figures until replaced is
// checked through the sequencer.)
#include "engine/measure_state.h"
#include "engine/worker_control.h"
#include "engine/workers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {
struct WorkerCase {
    const char* name;
    WorkerEntry entry;
    uint32_t allocations;
    int32_t* finished;
    int32_t* first_figure;
    LoopTrace* trace;
};

const WorkerCase WORKERS[] = {
    {"integer", int_filter_worker, 2, &measure_state.int_result.finished,
     &measure_state.int_result.cycles_44100, &measure_state.int_trace},
    {"float", float_filter_worker, 2, &measure_state.float_result.finished,
     &measure_state.float_result.cycles_44100, &measure_state.float_trace},
    {"mix", mix_worker, 1 + MIX_TRACKS, &measure_state.mix_result.finished,
     &measure_state.mix_result.tracks_44100, &measure_state.mix_trace},
};

constexpr FilterResult SENTINEL_FILTER{7, 11, 13};
constexpr MixResult SENTINEL_MIX{7, 17, 19, 23};

void plant_sentinels() {
    measure_state.int_result = SENTINEL_FILTER;
    measure_state.float_result = SENTINEL_FILTER;
    measure_state.mix_result = SENTINEL_MIX;
    measure_state.int_trace = measure_state.float_trace = measure_state.mix_trace = {};
}

bool filter_equal(const FilterResult& a, const FilterResult& b) {
    return a.finished == b.finished && a.cycles_44100 == b.cycles_44100 &&
           a.cycles_48000 == b.cycles_48000;
}

bool mix_equal(const MixResult& a, const MixResult& b) {
    return a.finished == b.finished && a.tracks_44100 == b.tracks_44100 &&
           a.tracks_48000 == b.tracks_48000 && a.mfloats_per_s == b.mfloats_per_s;
}

bool all_untouched() {
    return filter_equal(measure_state.int_result, SENTINEL_FILTER) &&
           filter_equal(measure_state.float_result, SENTINEL_FILTER) &&
           mix_equal(measure_state.mix_result, SENTINEL_MIX);
}

class Workers : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(read_counter_frequency());
        measure_state.running.store(0);
        alloc_seam_arm(0);
        live_before = alloc_seam_stats().live;
    }
    void TearDown() override {
        alloc_seam_arm(0);
        EXPECT_EQ(alloc_seam_stats().live, live_before) << "buffers leaked";
    }
    int32_t live_before = 0;
};
} // namespace

TEST_F(Workers, EachAllocationFailingLeavesTheResultsUntouchedAndFreesTheRest) {
    for (const WorkerCase& worker : WORKERS) {
        for (uint32_t failing = 1; failing <= worker.allocations; ++failing) {
            plant_sentinels();
            measure_state.running.store(1); // would run forever if it reached the loop
            alloc_seam_arm(failing);
            EXPECT_EQ(worker.entry(nullptr), 0u);
            AllocSeamStats stats = alloc_seam_stats();
            EXPECT_EQ(stats.failures, 1u) << worker.name << " allocation " << failing;
            // The bus failing stops the mix worker at once; otherwise every
            // allocation is attempted.
            uint32_t attempted =
                worker.entry == mix_worker && failing == 1 ? 1 : worker.allocations;
            EXPECT_EQ(stats.calls, attempted) << worker.name << " allocation " << failing;
            EXPECT_EQ(stats.live, live_before) << worker.name << " allocation " << failing;
            EXPECT_TRUE(all_untouched()) << worker.name << " allocation " << failing;
        }
    }
}

TEST_F(Workers, FlagAlreadyClearedDoesNoUnitButMarksFinished) {
    for (const WorkerCase& worker : WORKERS) {
        plant_sentinels();
        *worker.finished = 0;
        worker.entry(nullptr);
        EXPECT_EQ(worker.trace->blocks, 0u) << worker.name;
        EXPECT_EQ(*worker.finished, 1) << worker.name;
        // Figures change only if the two counter reads were 1 ms apart, and
        // then they are 0.
        int32_t expected = worker.trace->figures_stored == 1 ? 0 : 11;
        EXPECT_EQ(*worker.first_figure, worker.entry == mix_worker && expected != 0 ? 17 : expected)
            << worker.name;
    }
}

TEST_F(Workers, WithoutACounterNoFigureChangesButFinishedIsSet) {
    plant_sentinels();
    measure_state.int_result.finished = 0;
    measure_state.counter_frequency = 0;
    measure_state.running.store(1);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        measure_state.running.store(0);
    });
    int_filter_worker(nullptr);
    stopper.join();
    EXPECT_EQ(measure_state.int_result.finished, 1);
    EXPECT_EQ(measure_state.int_result.cycles_44100, SENTINEL_FILTER.cycles_44100);
    EXPECT_EQ(measure_state.int_result.cycles_48000, SENTINEL_FILTER.cycles_48000);
    EXPECT_EQ(measure_state.int_trace.figures_stored, 0);
    EXPECT_GT(measure_state.int_trace.blocks, 0u);
    ASSERT_TRUE(read_counter_frequency());
}

TEST_F(Workers, RealThreadsStopWhenTheFlagDropsAndPublishPositiveFigures) {
    plant_sentinels();
    for (const WorkerCase& worker : WORKERS) {
        // A worker does units only after its untimed preparation, which for
        // the mix worker takes a good part of a second, longer on a busy
        // machine or under Wine: a run stopped before its loop did a unit is
        // repeated with twice the time, up to some 10 s.
        for (int32_t run_ms = 150;; run_ms *= 2) {
            PlatformThread* thread = worker_start(worker.entry);
            ASSERT_NE(thread, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(run_ms));
            worker_stop(thread);
            bool looped = worker.trace->blocks > 0 && worker.trace->figures_stored == 1;
            if (looped || run_ms > 5000) {
                break;
            }
        }
    }
    const FilterResult& i = measure_state.int_result;
    const FilterResult& f = measure_state.float_result;
    const MixResult& m = measure_state.mix_result;
    EXPECT_EQ(i.finished, 1);
    EXPECT_EQ(f.finished, 1);
    EXPECT_EQ(m.finished, 1);
    EXPECT_GT(i.cycles_44100, 0);
    EXPECT_GE(i.cycles_44100, i.cycles_48000);
    EXPECT_GT(f.cycles_48000, 0);
    EXPECT_GT(m.tracks_48000, 0);
    EXPECT_GT(m.mfloats_per_s, 0u);
    EXPECT_GT(measure_state.mix_trace.blocks, 0u);
}
