// The sequencer against the recording window system and the real test
// workers (which stop within one block once the run flag drops): the
// schedule by tick, the progress bar, the timer and the window, cancelling
// in every state, and the failures of thread and timer creation.
#include "engine/measure_state.h"
#include "sequencer/sequencer.h"
#include "tests/fakes/recording_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using Calls = std::vector<std::string>;

constexpr FilterResult EARLIER_FILTER{0, 11, 13};
constexpr MixResult EARLIER_MIX{0, 17, 19, 23};

class Sequencer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(read_counter_frequency());
        reset_recording();
        sequencer_state = SequencerState{};
        measure_state.running.store(0);
        measure_state.int_result = EARLIER_FILTER;
        measure_state.float_result = EARLIER_FILTER;
        measure_state.mix_result = EARLIER_MIX;
        thread_seam_arm(0);
        window = recorded_window();
    }
    void TearDown() override {
        cancel_test_run(window); // never leave a worker running
        thread_seam_arm(0);
    }

    // Delivers ticks until tick_count reaches `count`.
    void tick_until(uint32_t count) {
        while (sequencer_state.tick_count < count) {
            on_tick(window);
        }
    }

    WindowHandle window = nullptr;
};

Calls progress_bar(uint32_t right) {
    return {"get_dc",
            "select white_brush",
            "select black_pen",
            "rectangle 5 40 290 60",
            "select black_brush",
            "rectangle 5 40 " + std::to_string(right) + " 60",
            "release_dc"};
}

Calls joined(Calls first, const Calls& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

int32_t finished_tests() {
    return measure_state.int_result.finished + measure_state.float_result.finished * 10 +
           measure_state.mix_result.finished * 100;
}
} // namespace

TEST_F(Sequencer, RunsEachTestInItsSlotAndEndsTheRunOnTick160) {
    start_test_run(window);
    take_calls();

    on_tick(window); // tick 0
    EXPECT_NE(sequencer_state.worker_handle, nullptr);
    EXPECT_EQ(measure_state.running.load(), 1);
    tick_until(40);
    EXPECT_EQ(finished_tests(), 0) << "nothing stops before tick 40";

    on_tick(window); // tick 40: ZEM-1 stopped, ZEM-2 started
    EXPECT_EQ(finished_tests(), 1);
    EXPECT_NE(sequencer_state.worker_handle, nullptr);
    tick_until(80);

    on_tick(window); // tick 80: ZEM-2 stopped, ZEM-M started
    EXPECT_EQ(finished_tests(), 11);
    tick_until(120);
    PlatformThread* mix_worker = sequencer_state.worker_handle;

    on_tick(window); // tick 120: nothing
    EXPECT_EQ(finished_tests(), 11);
    EXPECT_EQ(sequencer_state.worker_handle, mix_worker);
    EXPECT_EQ(measure_state.running.load(), 1);
    tick_until(160);
    take_calls();

    on_tick(window); // tick 160: the end
    EXPECT_EQ(finished_tests(), 111);
    EXPECT_EQ(sequencer_state.worker_handle, nullptr);
    EXPECT_EQ(measure_state.running.load(), 0);
    EXPECT_EQ(sequencer_state.timer_id, 0u);
    EXPECT_EQ(take_calls(),
              joined({"kill_timer 100", "enable_window 1", "invalidate erase"}, progress_bar(291)));
}

TEST_F(Sequencer, DrawsTheProgressBarOnEveryTick) {
    start_test_run(window);
    take_calls();
    const uint32_t spot_ticks[] = {1, 2, 80, 159, 160};
    const uint32_t spot_rights[] = {6, 8, 147, 288, 290};
    for (uint32_t spot = 0; spot < 5; ++spot) {
        tick_until(spot_ticks[spot] - 1);
        take_calls();
        on_tick(window);
        Calls calls = take_calls();
        Calls bar(calls.end() - 7, calls.end());
        EXPECT_EQ(bar, progress_bar(spot_rights[spot])) << "tick_count " << spot_ticks[spot];
    }
}

TEST_F(Sequencer, CancelWhenIdleTouchesNothingButTheFlagAndTheCount) {
    measure_state.running.store(1); // left set by a worker that never started
    sequencer_state.tick_count = 5;
    cancel_test_run(window);
    EXPECT_EQ(take_calls(), Calls{});
    EXPECT_EQ(measure_state.running.load(), 0);
    EXPECT_EQ(sequencer_state.tick_count, 0u);
}

TEST_F(Sequencer, CancelInEveryPhaseKillsTheTimerJoinsTheWorkerAndLeavesTheWindowDisabled) {
    // Before the first tick, then in the slots of ZEM-1, ZEM-2 and ZEM-M
    // (before and after tick 120).
    const uint32_t cancel_after[] = {0, 1, 41, 81, 121, 160};
    for (uint32_t ticks : cancel_after) {
        SetUp();
        start_test_run(window);
        tick_until(ticks);
        take_calls();
        bool had_worker = sequencer_state.worker_handle != nullptr;
        int32_t finished_before = finished_tests();

        cancel_test_run(window);
        EXPECT_EQ(take_calls(), Calls{"kill_timer 100"}) << "after " << ticks << " ticks";
        EXPECT_EQ(sequencer_state.worker_handle, nullptr);
        EXPECT_EQ(sequencer_state.timer_id, 0u);
        EXPECT_EQ(sequencer_state.tick_count, 0u);
        EXPECT_EQ(measure_state.running.load(), 0);
        // A joined worker has marked its test finished.
        EXPECT_EQ(finished_tests() > finished_before, had_worker) << "after " << ticks;
        if (ticks == 81) {
            // The mix worker was still preparing its tracks: the cancel
            // waited for that, and the worker then did no unit.
            EXPECT_EQ(measure_state.mix_trace.blocks, 0u);
        }

        cancel_test_run(window);
        EXPECT_EQ(take_calls(), Calls{}) << "second cancel after " << ticks << " ticks";
    }
}

TEST_F(Sequencer, AWorkerThatCannotBeCreatedLeavesItsResultsAndTheScheduleGoesOn) {
    start_test_run(window);
    thread_seam_arm(1);
    on_tick(window); // ZEM-1 cannot start
    EXPECT_EQ(sequencer_state.worker_handle, nullptr);
    EXPECT_EQ(measure_state.running.load(), 1);
    tick_until(41); // ZEM-2 starts
    EXPECT_NE(sequencer_state.worker_handle, nullptr);
    tick_until(161);
    EXPECT_EQ(finished_tests(), 110);
    EXPECT_EQ(measure_state.int_result.cycles_44100, EARLIER_FILTER.cycles_44100);
    EXPECT_EQ(sequencer_state.timer_id, 0u);
}

TEST_F(Sequencer, ATimerThatCannotBeCreatedLeavesTheWindowEnabledAndSaysSo) {
    recording.fail_set_timer = true;
    start_test_run(window);
    EXPECT_EQ(take_calls(), (Calls{"enable_window 0", "set_timer 100 500", "enable_window 1",
                                   "message_box 'Test not possible'"}));
    ASSERT_EQ(recording.boxes.size(), 1u);
    EXPECT_TRUE(recording.boxes[0].owned);
    EXPECT_EQ(recording.boxes[0].text, "The test could not be started: no timer is available.");
    EXPECT_EQ(recording.boxes[0].flags, uint32_t{BOX_OK | BOX_ICON_EXCLAMATION});
    EXPECT_EQ(sequencer_state.timer_id, 0u);
    EXPECT_EQ(sequencer_state.worker_handle, nullptr);
}

TEST_F(Sequencer, ASecondRunStartsAtTickZeroAndKeepsTheFirstRunsFiguresUntilReplaced) {
    start_test_run(window);
    tick_until(161);
    MixResult first_mix = measure_state.mix_result;
    measure_state.mix_result.tracks_44100 = 4242; // recognisable first-run figure
    take_calls();

    sequencer_state.tick_count = 77;
    start_test_run(window);
    EXPECT_EQ(take_calls(), (Calls{"enable_window 0", "set_timer 100 500"}));
    EXPECT_EQ(sequencer_state.tick_count, 0u);
    EXPECT_EQ(sequencer_state.timer_id, RUN_TIMER_ID);
    EXPECT_EQ(sequencer_state.worker_handle, nullptr); // the first tick starts ZEM-1
    on_tick(window);
    EXPECT_EQ(take_calls(), progress_bar(6));
    tick_until(100);
    EXPECT_EQ(measure_state.mix_result.tracks_44100, 4242);
    EXPECT_EQ(measure_state.mix_result.finished, first_mix.finished);
    tick_until(161);
    EXPECT_EQ(sequencer_state.worker_handle, nullptr);
}
