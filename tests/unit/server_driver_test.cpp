// The driver inside an audio server's cycle, against a scripted server: which
// periods miss by its rule for a cycle's end (skipped cycles, the frame
// count's wrap, an advance that is no multiple of the buffer), and how a
// trial ends when the server goes away, changes its buffer size or falls
// silent. Counts and states only; no duration is asserted.
#include "engine/realtime/server_driver.h"
#include "tests/fakes/scripted_audio_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {
constexpr uint32_t FRAMES = 256;
constexpr int64_t PERIOD_NS = 5'333'333; // at 48 kHz
constexpr uint64_t N = 8;                // periods a trial asks for
constexpr uint64_t NONE = UINT64_MAX;    // a miss budget that ends no trial

int sleeps(int64_t timeout_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return 0;
}

// Each poll counts as 10 ms waited: a silent server is found out at once.
int no_wait(int64_t /*timeout_ms*/) {
    return 0;
}

int stop_now(int64_t /*timeout_ms*/) {
    return 2;
}

// N + 1 cycles on time from frame `first`. Each plans an end that has passed
// already, so a period held to its planned end misses.
std::vector<ScriptedCycle> steady(uint32_t first = 1000) {
    std::vector<ScriptedCycle> cycles;
    for (uint32_t i = 0; i <= N; ++i) {
        cycles.push_back({FRAMES, first + i * FRAMES, 0, -1, 0, 0.0f, 0, nullptr});
    }
    return cycles;
}

// The server's frame count jumps by `frames` before cycle 3; its start is `start_ns`.
std::vector<ScriptedCycle> jump(uint32_t frames, int64_t start_ns,
                                std::vector<ScriptedCycle> cycles = steady()) {
    for (size_t i = 3; i < cycles.size(); ++i) {
        cycles[i].frame_time += frames;
    }
    cycles[3].start_ns = start_ns;
    return cycles;
}

// Cycle 4 at another buffer size, or with the server gone after it.
std::vector<ScriptedCycle> trouble(uint32_t frames, const char* shutdown) {
    std::vector<ScriptedCycle> cycles = steady();
    cycles[4].frames = frames;
    cycles[4].shutdown = shutdown;
    return cycles;
}

struct Rig {
    AudioServerClient* client;
    ServerDriver server{};
    PeriodDriver driver{};

    Rig(std::vector<ScriptedCycle> cycles, uint32_t xruns, StopWait wait)
        : client(scripted_server_open({{FRAMES, 48000}, xruns, std::move(cycles)})) {
        server_driver_init(&driver, &server, client, wait);
        DriverSetup setup{FRAMES, 48000, 1, {}, N, NO_PROCESSOR};
        EXPECT_TRUE(driver_open(&driver, &setup));
    }
    ~Rig() {
        driver_close(&driver);
        audio_server_close(client);
    }
    bool trial(uint64_t periods, uint64_t miss_budget, TrialOutcome* outcome) {
        TrialRequest request{
            0, 0, periods, miss_budget, MissJudge{grid_period_ns(FRAMES, 48000), 0, 0, false},
            0, {}};
        return driver_trial(&driver, &request, outcome);
    }
};

struct Case {
    const char* name;
    std::vector<ScriptedCycle> cycles;
    StopWait wait;
    uint64_t miss_budget;
    bool ran;         // the trial returned true
    uint64_t periods; // accounted
    uint64_t missed;
    const char* failure; // words of the failure; "" none
};
} // namespace

TEST(ServerDriver, HoldsEachPeriodToTheEndOfItsCycleAndFailsOnServerTrouble) {
    const uint32_t WRAP = UINT32_MAX - 2 * FRAMES - 9; // cycle 3 is past the wrap
    const Case cases[] = {
        {"on time", steady(), sleeps, NONE, true, N, 0, ""},
        {"one late", jump(0, BEFORE_LAST_WORK), sleeps, NONE, true, N, 1, ""},
        // Every miss counts, the system's stall too: past the budget the trial stops.
        {"late, no budget", jump(0, BEFORE_LAST_WORK), sleeps, 0, true, 3, 1, ""},
        // 1000 cycles skipped: the end is 1000 periods before cycle 3's start.
        {"skipped, missed", jump(1000 * FRAMES, 500 * PERIOD_NS), sleeps, NONE, true, N, 1, ""},
        {"skipped, in time", jump(2 * FRAMES, 2 * PERIOD_NS), sleeps, NONE, true, N, 0, ""},
        {"wrap, in time", steady(WRAP), sleeps, NONE, true, N, 0, ""},
        {"wrap, late", jump(0, BEFORE_LAST_WORK, steady(WRAP)), sleeps, NONE, true, N, 1, ""},
        // No multiple of the buffer (or no advance): the planned end holds.
        {"advance not a multiple", jump(7, 0), sleeps, NONE, true, N, 1, ""},
        {"no advance", jump(-FRAMES, 0), sleeps, NONE, true, N, 1, ""},
        {"buffer size change", trouble(512, nullptr), sleeps, NONE, false, 3, 0, "from 256 to 512"},
        {"shutdown", trouble(FRAMES, "gone"), sleeps, NONE, false, 4, 0,
         "stopped during the run: gone"},
        {"silent", {}, no_wait, NONE, false, 0, 0, "stopped running our process"},
        {"stop request", {}, stop_now, NONE, false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.cycles, 0, c.wait);
        // A trial that ran is run again on the same client, which replays its script.
        for (int trial = 0; trial < (c.ran ? 2 : 1); ++trial) {
            auto outcome = std::make_unique<TrialOutcome>();
            EXPECT_EQ(rig.trial(N, c.miss_budget, outcome.get()), c.ran);
            EXPECT_EQ(outcome->periods, c.periods);
            EXPECT_EQ(outcome->missed, c.missed);
            EXPECT_TRUE(outcome->server.measured);
            EXPECT_FALSE(outcome->server.stated_end_known);
            EXPECT_EQ(rig.driver.stop_signal, c.wait == stop_now ? 2 : 0);
            EXPECT_EQ(rig.driver.failure.failed, c.failure[0] != '\0');
            EXPECT_NE(std::string(rig.driver.failure.text).find(c.failure), std::string::npos)
                << rig.driver.failure.text;
        }
    }
}

TEST(ServerDriver, KeepsTheServersOwnFiguresOfTheAccountedPeriodsOnly) {
    // The fourth cycle only closes the third period: its figures are not the trial's. The
    // work ends after the stated end of the first and the third.
    const std::vector<ScriptedCycle> cycles = {
        {FRAMES, 0, 0, -1, -1, 10, 0, nullptr},
        {FRAMES, FRAMES, 0, -1, 1'000'000'000, 30, 1, nullptr},
        {FRAMES, 2 * FRAMES, 0, -1, -1, 20, 0, nullptr},
        {FRAMES, 3 * FRAMES, 0, -1, -1, 99, 1, nullptr}};
    Rig rig(cycles, 3, sleeps);
    auto outcome = std::make_unique<TrialOutcome>();
    ASSERT_TRUE(rig.trial(3, UINT64_MAX, outcome.get()));
    const ServerFigures& server = outcome->server;
    EXPECT_EQ(outcome->periods, 3u);
    EXPECT_EQ(server.xruns, 2u);
    EXPECT_DOUBLE_EQ(server.load_mean, 20.0);
    EXPECT_DOUBLE_EQ(server.load_max, 30.0);
    EXPECT_TRUE(server.stated_end_known);
    EXPECT_EQ(server.stated_missed, 2u);
}
