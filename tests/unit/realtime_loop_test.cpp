// The period loop on fake clocks: miss counting, the miss budget, the
// warm-up and halt; each miss's cause from a fake observer; the gathering of
// several threads' misses.
#include "engine/realtime/capacity_search.h"
#include "engine/realtime/clock_driver.h"
#include "engine/realtime/miss_classify.h"
#include "engine/realtime/period_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace {
// A clock whose sleeps wake `wake_delay` after the later of now and the
// asked time, and whose work in period n takes work[n].
struct FakeClock {
    int64_t now;
    int64_t wake_delay[8];
    int64_t work[8];
    uint32_t period;
    bool woken;
};

int64_t fake_now(void* context) {
    auto* clock = static_cast<FakeClock*>(context);
    if (clock->woken) {
        clock->woken = false;
        return clock->now;
    }
    clock->now += clock->work[clock->period - 1];
    return clock->now;
}

void fake_sleep(void* context, int64_t when_ns) {
    auto* clock = static_cast<FakeClock*>(context);
    clock->now = (clock->now > when_ns ? clock->now : when_ns) + clock->wake_delay[clock->period];
    clock->period += 1;
    clock->woken = true;
}

constexpr int64_t MS = 1000000;

struct LoopRun {
    FakeClock clock;
    std::unique_ptr<PeriodStats> stats;
    uint64_t map[1];
    std::atomic<int32_t> halt{HALT_NONE};
    uint64_t ran;
};

// Six periods of 100 ms: period 1 wakes 150 ms late, period 3 works 120 ms
// (unless `work` says otherwise).
void run_loop(LoopRun* run, uint64_t miss_budget, uint64_t warmup = 0,
              std::array<int64_t, 6> work = {MS, MS, MS, 120 * MS, MS, MS}) {
    run->clock = FakeClock{1000 * MS, {0, 150 * MS}, {}, 0, false};
    std::copy(work.begin(), work.end(), run->clock.work);
    run->stats = std::make_unique<PeriodStats>();
    run->stats->miss_map = run->map;
    run->stats->miss_map_periods = 64;
    period_stats_reset(run->stats.get());
    RtClock clock{fake_now, fake_sleep, &run->clock, nullptr, nullptr};
    LoopPlan plan{PeriodGrid{1000 * MS, 100, 1000}, warmup,    6 - warmup, miss_budget,
                  MissJudge{100 * MS, 0, 0, false}, &run->halt};
    PeriodJob idle{};
    run->ran = run_period_loop(&clock, &plan, &idle, run->stats.get());
}
} // namespace

TEST(PeriodLoop, LateWakeAndLongPeriodMissAndTheGridStays) {
    LoopRun run;
    run_loop(&run, UINT64_MAX);
    const PeriodStats* stats = run.stats.get();
    EXPECT_EQ(run.ran, 6u);
    EXPECT_EQ(stats->periods, 6u);
    EXPECT_EQ(stats->missed, 2u);
    EXPECT_EQ(run.map[0], 0b1010u);
    EXPECT_EQ(stats->lateness.max, 150 * MS);
    EXPECT_EQ(stats->processing.max, 120 * MS);
    // Period 2 starts at 1200 ms on the grid; its sleep returned at 1251 ms,
    // so it is 51 ms late and not re-anchored; period 4 likewise 20 ms late.
    EXPECT_EQ(stats->lateness.bins[histogram_bin_of(51 * MS)], 1u);
    EXPECT_EQ(stats->lateness.bins[histogram_bin_of(20 * MS)], 1u);
    EXPECT_EQ(run.halt.load(), HALT_NONE);
}

TEST(PeriodLoop, GivesUpOnceOverTheMissBudgetAndHonoursHalt) {
    LoopRun run;
    run_loop(&run, 0);
    EXPECT_EQ(run.ran, 2u);
    EXPECT_EQ(run.stats->missed, 1u);
    EXPECT_EQ(run.halt.load(), HALT_MISSED);

    // The late first period falls in the warm-up: only the long one counts.
    LoopRun warmed;
    run_loop(&warmed, UINT64_MAX, 2);
    EXPECT_EQ(warmed.ran, 4u);
    EXPECT_EQ(warmed.stats->missed, 1u);
    EXPECT_EQ(warmed.stats->miss_map[0], uint64_t{1} << 1);

    LoopRun stopped;
    stopped.halt.store(HALT_STOP);
    run_loop(&stopped, UINT64_MAX);
    EXPECT_EQ(stopped.ran, 0u);
}

// A warm-up whose last work ends past the first counted period's start
// leaves its second slowest work behind, for the search to aim by; one
// slow period alone (the 120 ms one, a 1 ms one that a late wake-up
// pushed over) leaves only the next slowest, and a warm-up that ends in
// time leaves none.
TEST(PeriodLoop, AWarmUpThatRunsIntoTheHoldLeavesItsSecondSlowestWork) {
    for (const auto& [warmup, overrun] :
         {std::pair<uint64_t, int64_t>{4, MS}, {2, MS}, {3, 0}, {0, 0}}) {
        LoopRun run;
        run_loop(&run, UINT64_MAX, warmup);
        EXPECT_EQ(run.stats->warmup_overrun_ns, overrun) << warmup;
    }
    // Periods 2 and 3 of the warm-up both overrun: 130 ms the second slowest.
    LoopRun burst;
    run_loop(&burst, UINT64_MAX, 4, {MS, MS, 130 * MS, 140 * MS, MS, MS});
    EXPECT_EQ(burst.stats->warmup_overrun_ns, 130 * MS);
}

namespace {
// 400 periods of 100 ms, each working `wall` ms of which the thread ran
// `cpu`, after waking `late` ms late, with `switches` involuntary switches;
// the observer sees `steal` ns of steal on the core halfway through it.
struct Scripted {
    int64_t late;
    int64_t wall;
    int64_t cpu;
    int64_t switches;
    int64_t steal;
};
constexpr uint64_t SCRIPTED = 400;
struct ScriptClock {
    int64_t now;
    uint64_t period; // the one running
    bool working;
    Scripted script[SCRIPTED];
    RtThreadCounters counters;
};

int64_t script_now(void* context) {
    auto* clock = static_cast<ScriptClock*>(context);
    const Scripted* step = &clock->script[clock->period];
    clock->working = !clock->working;
    if (!clock->working) { // the work's end: the thread's counters move on
        clock->now += step->wall * MS;
        clock->counters.cpu_ns += step->cpu * MS;
        clock->counters.involuntary += step->switches;
    }
    return clock->now;
}

void script_sleep(void* context, int64_t when_ns) {
    auto* clock = static_cast<ScriptClock*>(context);
    clock->period = static_cast<uint64_t>((when_ns - 1000 * MS) / (100 * MS));
    clock->now =
        (clock->now > when_ns ? clock->now : when_ns) + clock->script[clock->period].late * MS;
}

void script_counters(void* context, RtThreadCounters* counters) {
    *counters = static_cast<ScriptClock*>(context)->counters;
}

// The observer's samples, one a millisecond over the script, with its steal.
void observe(const ScriptClock* clock, Observer* observer) {
    ASSERT_TRUE(observer_open(observer, SCRIPTED / 10.0 + 1.0, 1));
    int64_t steal = 0;
    for (uint64_t s = 0; s < observer->capacity; ++s) {
        const int64_t at = 1000 * MS + static_cast<int64_t>(s) * MS;
        const uint64_t period = s / 100;
        steal += period < SCRIPTED && s % 100 == 50 ? clock->script[period].steal : 0;
        observer->at_ns[s] = at;
        observer->counters[s] = RtStallCounters{0, steal, 0};
        observer->count = s + 1;
    }
}

// Runs the script with no miss budget, a pause past 105 ms, and returns the
// causes of what missed, classified from the loop's verdicts and the
// observer's samples.
std::vector<MissCause> classify_script(ScriptClock* clock, std::vector<PreemptSource>* sources,
                                       std::vector<uint64_t>* indices = nullptr) {
    clock->now = 1000 * MS;
    clock->counters = RtThreadCounters{0, 0};
    auto stats = std::make_unique<PeriodStats>();
    std::vector<MissRecord> records(MAX_MISS_RECORDS);
    std::vector<uint64_t> map(SCRIPTED / 64 + 1);
    stats->records = records.data();
    stats->miss_map = map.data();
    stats->miss_map_periods = SCRIPTED;
    period_stats_reset(stats.get());
    std::atomic<int32_t> halt{HALT_NONE};
    RtClock real{script_now, script_sleep, clock, script_counters, clock};
    LoopPlan plan{PeriodGrid{1000 * MS, 100, 1000}, 0,    SCRIPTED, UINT64_MAX,
                  MissJudge{100 * MS, 0, 0, false}, &halt};
    PeriodJob idle{};
    run_period_loop(&real, &plan, &idle, stats.get());
    auto observer = std::make_unique<Observer>();
    observe(clock, observer.get());
    auto outcome = std::make_unique<TrialOutcome>();
    PeriodStats* threads[1] = {stats.get()};
    gather_threads(threads, 1, 100 * MS, observer.get(), true, outcome.get());
    observer_close(observer.get());
    std::vector<MissCause> causes;
    for (uint32_t r = 0; r < stats->record_count; ++r) {
        causes.push_back(records[r].cause);
        sources->push_back(records[r].source);
        if (indices != nullptr) {
            indices->push_back(records[r].index);
        }
    }
    return causes;
}
} // namespace

TEST(MissCauses, EachMissedPeriodGetsTheCauseItsTimesAndCountersShow) {
    auto light = std::make_unique<ScriptClock>();
    for (Scripted& step : light->script) {
        step = Scripted{0, 50, 50, 0, 0};
    }
    light->script[10] = {60, 50, 50, 0, 0};        // woke too late for any work to fit
    light->script[20] = {0, 120, 60, 1, 0};        // off the core half the time, a switch
    light->script[30] = {0, 110, 110, 0, 10 * MS}; // charged as ours while the host stole it
    light->script[40] = {0, 110, 110, 0, 0};       // its own time overran: the work's
    light->script[50] = {0, 150, 150, 0, 0};       // the same, and the next period starts late
    light->script[60] = {0, 110, 90, 0, 10 * MS};  // off the core 20 ms with steal beside it
    std::vector<PreemptSource> sources;
    EXPECT_EQ(classify_script(light.get(), &sources),
              (std::vector<MissCause>{CAUSE_LATE_WAKEUP, CAUSE_PREEMPTED, CAUSE_PREEMPTED,
                                      CAUSE_WORK, CAUSE_WORK, CAUSE_PREEMPTED}));
    EXPECT_EQ(sources,
              (std::vector<PreemptSource>{SOURCE_UNSAID, SOURCE_THREAD, SOURCE_HYPERVISOR,
                                          SOURCE_UNSAID, SOURCE_UNSAID, SOURCE_HYPERVISOR}));

    // Near the limit the work itself crosses the period: work, and the
    // late start it leaves behind is work too.
    auto heavy = std::make_unique<ScriptClock>();
    for (uint32_t p = 0; p < SCRIPTED; ++p) {
        const int64_t wall = p % 50 == 7 ? 101 : 96 + p % 3;
        heavy->script[p] = Scripted{0, wall, wall, 0, 0};
    }
    // Inside one such chain, a long period of its own time: still the work's.
    heavy->script[208] = Scripted{0, 160, 160, 0, 0};
    sources.clear();
    std::vector<uint64_t> indices;
    std::vector<MissCause> causes = classify_script(heavy.get(), &sources, &indices);
    ASSERT_GE(causes.size(), 8u);
    for (size_t m = 0; m < causes.size(); ++m) {
        EXPECT_EQ(causes[m], CAUSE_WORK) << indices[m];
    }
}

TEST(MissCauses, ThreadsMissTogetherPastTheRecordsKeptAndAStaleSampleSaysNothing) {
    // Two threads of 10000 periods: the first misses every even period, the
    // second every third; the first's records run out at 4096.
    constexpr uint64_t PERIODS = 10000;
    std::vector<std::unique_ptr<PeriodStats>> stats;
    std::vector<std::vector<MissRecord>> records(2, std::vector<MissRecord>(MAX_MISS_RECORDS));
    std::vector<std::vector<uint64_t>> maps(2, std::vector<uint64_t>(PERIODS / 64 + 1));
    const MissJudge judge{MS, 0, 0, false};
    for (uint32_t t = 0; t < 2; ++t) {
        stats.push_back(std::make_unique<PeriodStats>());
        stats[t]->records = records[t].data();
        stats[t]->miss_map = maps[t].data();
        stats[t]->miss_map_periods = PERIODS;
        period_stats_reset(stats[t].get());
        for (uint64_t p = 0; p < PERIODS; ++p) {
            const int64_t start = static_cast<int64_t>(p) * MS;
            const bool late = t == 0 ? p % 2 == 0 : p % 3 == 0;
            const int64_t work = late ? MS + MS / 2 : MS / 2; // on the core throughout
            const PeriodTimes times{start, start + MS, start, start + work};
            const RtThreadCounters counters{static_cast<int64_t>(p + 1) * 2 * MS, 0};
            period_account(stats[t].get(), &judge, p, &times, &counters);
        }
    }
    EXPECT_EQ(stats[0]->missed, 5000u); // known at once, in the loop
    EXPECT_EQ(stats[0]->record_count, MAX_MISS_RECORDS);
    // One sample long before the trial: out of reach, so no counter is read.
    auto observer = std::make_unique<Observer>();
    ASSERT_TRUE(observer_open(observer.get(), 1.0, 2));
    observer->at_ns[0] = -10 * MS;
    observer->counters[0] = observer->counters[1] = RtStallCounters{0, 0, 0};
    observer->count = 1;
    auto outcome = std::make_unique<TrialOutcome>();
    PeriodStats* threads[2] = {stats[0].get(), stats[1].get()};
    gather_threads(threads, 2, MS, observer.get(), true, outcome.get());
    observer_close(observer.get());
    // Periods that are even or a multiple of three: 5000 + 3334 - 1667.
    EXPECT_EQ(outcome->periods, PERIODS);
    EXPECT_EQ(outcome->missed, 6667u);
    EXPECT_EQ(miss_total(&outcome->misses), 6667u);
    EXPECT_GT(outcome->misses.by_cause[CAUSE_WORK], 0u);
    EXPECT_GT(outcome->misses.by_cause[CAUSE_UNKNOWN], 0u); // past both threads' records
    EXPECT_EQ(outcome->processing.count, 2 * PERIODS);
    EXPECT_EQ(records[0][0].stall.steal_ns, -1);
    EXPECT_EQ(records[0][0].edge_from_ns, 0);
}
