// Our clock driver on real threads, pinned and raised where the system
// allows: a whole trial, and one stopped from outside, which must end with
// every thread joined. Run under ThreadSanitizer too; no timing is asserted.
#include "engine/realtime/clock_driver.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
int never_stop(int64_t /*timeout_ms*/) {
    return 0;
}

int stop_at_once(int64_t /*timeout_ms*/) {
    return 2;
}

const MissJudge JUDGE{grid_period_ns(64, 48000), 0, 0, false};

struct Rig {
    ClockDriver clock{};
    PeriodDriver driver{};
    StreamSet sets[MAX_RT_THREADS] = {};
    uint32_t threads = 0;

    explicit Rig(StopWait wait) {
        DriverSetup setup{64, 48000, 0, {}, 64, NO_PROCESSOR};
        RtStep step{};
        threads = setup.threads = rt_physical_cores(setup.processors, 2, &step);
        clock_driver_init(&driver, &clock, wait);
        EXPECT_TRUE(driver_open(&driver, &setup));
        for (uint32_t t = 0; t < threads; ++t) {
            EXPECT_TRUE(stream_set_prepare(&sets[t], RT_ZEM2, 64, 8, nullptr));
        }
        driver_set_streams(&driver, sets);
    }
    ~Rig() {
        driver_close(&driver);
        for (uint32_t t = 0; t < threads; ++t) {
            stream_set_free(&sets[t]);
        }
    }
};
} // namespace

TEST(RealtimeDriver, RunsATrialOnEveryCoreAndGathersItsFigures) {
    Rig rig(never_stop);
    TrialRequest request{16, 8, 40, UINT64_MAX, JUDGE, 2, {4, 8}};
    auto outcome = std::make_unique<TrialOutcome>();
    ASSERT_TRUE(driver_trial(&rig.driver, &request, outcome.get()));
    EXPECT_EQ(outcome->periods, 40u);
    EXPECT_LE(outcome->missed, 40u);
    EXPECT_EQ(outcome->processing.count, 40u * rig.threads);
    EXPECT_EQ(outcome->lateness.count, 40u * rig.threads);
    EXPECT_GT(outcome->worst_checkpoint_ns[1], 0);
    EXPECT_NE(rig.driver.steps.timer.note[0], '\0');
    EXPECT_EQ(rig.driver.stop_signal, 0);
}

TEST(RealtimeDriver, AStopRequestEndsTheTrialWithEveryThreadJoined) {
    Rig rig(stop_at_once);
    TrialRequest request{16, 0, 64, UINT64_MAX, JUDGE, 0, {}};
    auto outcome = std::make_unique<TrialOutcome>();
    EXPECT_FALSE(driver_trial(&rig.driver, &request, outcome.get()));
    EXPECT_EQ(rig.driver.stop_signal, 2);
    EXPECT_LT(outcome->periods, 64u);
}
