// The real-time mode's platform-free parts: histogram bins, overflow and
// percentiles; the period grid over an hour at 44100 Hz; miss counting on a
// fake clock; the capacity search against fake trials.
#include "engine/realtime/capacity_search.h"
#include "engine/realtime/histogram.h"
#include "engine/realtime/miss_classify.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/period_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

TEST(Histogram, BinsCoverEveryValueOnceWithinAThirtySecond) {
    for (uint32_t b = 0; b < HISTOGRAM_BINS; ++b) {
        int64_t low = histogram_bin_low(b);
        int64_t high = histogram_bin_high(b);
        ASSERT_EQ(histogram_bin_of(low), b);
        ASSERT_EQ(histogram_bin_of(high - 1), b);
        ASSERT_LE((high - low) * 32, low < 64 ? 32 : low) << b;
        if (b + 1 < HISTOGRAM_BINS) {
            ASSERT_EQ(high, histogram_bin_low(b + 1));
        }
    }
    EXPECT_EQ(histogram_bin_high(HISTOGRAM_BINS - 1), HISTOGRAM_LIMIT_NS);
}

TEST(Histogram, OverflowNegativesMergeAndPercentiles) {
    auto h = std::make_unique<Histogram>();
    histogram_clear(h.get());
    EXPECT_EQ(histogram_percentile(h.get(), P50), 0);
    for (int64_t v = 1; v <= 1000; ++v) {
        histogram_add(h.get(), v * 1000); // 1 µs .. 1 ms
    }
    int64_t p50 = histogram_percentile(h.get(), P50);
    EXPECT_GE(p50, 500000);
    EXPECT_LE(p50, 500000 + 500000 / 32);
    EXPECT_GE(histogram_percentile(h.get(), P999), 999000);
    EXPECT_EQ(histogram_percentile(h.get(), P100), 1000000); // the exact maximum
    EXPECT_EQ(histogram_percentile(h.get(), 1), 1007); // the lowest rank: the top of 1000's bin

    auto other = std::make_unique<Histogram>();
    histogram_clear(other.get());
    histogram_add(other.get(), -5); // woke early: counts as 0
    histogram_add(other.get(), HISTOGRAM_LIMIT_NS + 7);
    EXPECT_EQ(other->overflow, 1u);
    EXPECT_EQ(other->min, 0);
    histogram_merge(h.get(), other.get());
    EXPECT_EQ(h->count, 1002u);
    EXPECT_EQ(h->min, 0);
    EXPECT_EQ(h->max, HISTOGRAM_LIMIT_NS + 7);
    // The top rank lies in the overflow bin: the maximum, never a bin edge.
    EXPECT_EQ(histogram_percentile(h.get(), P100), HISTOGRAM_LIMIT_NS + 7);
    EXPECT_LE(histogram_percentile(h.get(), P99), 1000000);
}

TEST(PeriodGrid, FortyFourKiloHertzDoesNotDriftOverAnHour) {
    const PeriodGrid grid{123456789, 64, 44100};
    const uint64_t periods = uint64_t{3600} * 44100 / 64; // 2480625, exactly one hour
    EXPECT_EQ(grid_period_start(&grid, periods) - grid.origin_ns, int64_t{3600} * 1000000000);
    // 64 / 44100 s = 1451247.16 ns: every period is 1451247 or 1451248 ns long.
    int64_t previous = grid_period_start(&grid, 0);
    for (uint64_t n = 1; n <= periods; ++n) {
        int64_t start = grid_period_start(&grid, n);
        ASSERT_TRUE(start - previous == 1451247 || start - previous == 1451248) << n;
        previous = start;
    }
    EXPECT_EQ(grid_period_ns(64, 44100), 1451247);
    EXPECT_EQ(grid_periods_in(0.01, 64, 48000, 8), 8u);
    EXPECT_EQ(grid_periods_in(1.0, 64, 48000, 8), 750u);
}

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

// Six periods of 100 ms: period 1 wakes 150 ms late, period 3 works 120 ms.
void run_loop(LoopRun* run, uint64_t miss_budget) {
    run->clock = FakeClock{1000 * MS, {0, 150 * MS}, {MS, MS, MS, 120 * MS, MS, MS}, 0, false};
    run->stats = std::make_unique<PeriodStats>();
    run->stats->miss_map = run->map;
    run->stats->miss_map_periods = 64;
    period_stats_reset(run->stats.get());
    RtClock clock{fake_now, fake_sleep, &run->clock, nullptr, nullptr, nullptr};
    LoopPlan plan{PeriodGrid{1000 * MS, 100, 1000}, 6, miss_budget, &run->halt};
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

namespace {
// 400 periods of 100 ms, each working `wall` ms of which the thread ran
// `cpu`, after waking `late` ms late; the counters add `switches` and
// `steal` ticks in that period.
struct Scripted {
    int64_t late;
    int64_t wall;
    int64_t cpu;
    int64_t switches;
    int64_t steal;
};
struct ScriptClock {
    int64_t now;
    uint64_t period; // the one running
    bool working;
    Scripted script[400];
    RtThreadCounters counters;
    RtStallCounters stall;
};

int64_t script_now(void* context) {
    auto* clock = static_cast<ScriptClock*>(context);
    const Scripted* step = &clock->script[clock->period];
    clock->working = !clock->working;
    if (!clock->working) { // the work's end: the thread's counters move on
        clock->now += step->wall * MS;
        clock->counters.cpu_ns += step->cpu * MS;
        clock->counters.involuntary += step->switches;
        clock->stall.steal_ns += step->steal;
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

void script_stall(void* context, RtStallCounters* counters) {
    *counters = static_cast<ScriptClock*>(context)->stall;
}

// Runs the script with no miss budget and classifies what missed.
std::vector<MissCause> classify_script(ScriptClock* clock, std::vector<PreemptSource>* sources,
                                       std::vector<uint64_t>* indices = nullptr) {
    clock->now = 1000 * MS;
    clock->counters = RtThreadCounters{0, 0};
    clock->stall = RtStallCounters{0, 0, 0};
    auto stats = std::make_unique<PeriodStats>();
    std::vector<MissRecord> records(MAX_MISS_RECORDS);
    stats->records = records.data();
    period_stats_reset(stats.get());
    std::atomic<int32_t> halt{HALT_NONE};
    RtClock real{script_now, script_sleep, clock, script_counters, script_stall, clock};
    LoopPlan plan{PeriodGrid{1000 * MS, 100, 1000}, 400, UINT64_MAX, &halt};
    PeriodJob idle{};
    run_period_loop(&real, &plan, &idle, stats.get());
    classify_stats(stats.get(), 100 * MS, 0.95);
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
    light->script[10] = {60, 50, 50, 0, 0};  // woke too late for any work to fit
    light->script[20] = {0, 120, 60, 1, 0};  // off the core half the time, a switch
    light->script[30] = {0, 110, 110, 0, 1}; // charged as ours while the host stole it
    light->script[40] = {0, 110, 110, 0, 0}; // far past the trial's tail, nothing counted
    light->script[50] = {0, 150, 150, 0, 0}; // the same, and the next period starts late
    std::vector<PreemptSource> sources;
    EXPECT_EQ(classify_script(light.get(), &sources),
              (std::vector<MissCause>{CAUSE_LATE_WAKEUP, CAUSE_PREEMPTED, CAUSE_PREEMPTED,
                                      CAUSE_PREEMPTED, CAUSE_PREEMPTED}));
    EXPECT_EQ(sources, (std::vector<PreemptSource>{SOURCE_UNSAID, SOURCE_THREAD, SOURCE_HYPERVISOR,
                                                   SOURCE_HYPERVISOR, SOURCE_HYPERVISOR}));

    // Near the limit the tail itself crosses the period: work, and the
    // late start it leaves behind is work too.
    auto heavy = std::make_unique<ScriptClock>();
    for (uint32_t p = 0; p < 400; ++p) {
        const int64_t wall = p % 50 == 7 ? 101 : 96 + p % 3;
        heavy->script[p] = Scripted{0, wall, wall, 0, 0};
    }
    // Inside one such chain, a pause of its own: the chain from there on is the pause's.
    heavy->script[208] = Scripted{0, 160, 160, 0, 0};
    sources.clear();
    std::vector<uint64_t> indices;
    std::vector<MissCause> causes = classify_script(heavy.get(), &sources, &indices);
    ASSERT_GE(causes.size(), 8u);
    for (size_t m = 0; m < causes.size(); ++m) {
        const bool paused_chain = indices[m] >= 208 && indices[m] < 250;
        EXPECT_EQ(causes[m], paused_chain ? CAUSE_PREEMPTED : CAUSE_WORK) << indices[m];
    }
}

TEST(PeriodLoop, GivesUpOnceOverTheMissBudgetAndHonoursHalt) {
    LoopRun run;
    run_loop(&run, 0);
    EXPECT_EQ(run.ran, 2u);
    EXPECT_EQ(run.stats->missed, 1u);
    EXPECT_EQ(run.halt.load(), HALT_MISSED);

    LoopRun stopped;
    stopped.halt.store(HALT_STOP);
    run_loop(&stopped, UINT64_MAX);
    EXPECT_EQ(stopped.ran, 0u);
}

namespace {
// Holds up to `threshold` streams. Short trials may also hold in an island
// above it, and flip either way with probability `noise`; confirm trials
// (those of CONFIRM periods) never err. Each stream's work takes a share of
// the 1 ms period such that `threshold` streams fill it exactly.
constexpr uint64_t SHORT = 10;
constexpr uint64_t CONFIRM = 100;

struct FakeTrial {
    uint32_t threshold;
    uint32_t island_low;
    uint32_t island_high;
    double noise;
    std::mt19937 random;
    uint32_t calls;
    uint32_t stop_at_call;
    uint32_t largest_tried;
    uint32_t stall_every;          // every so many trials stall (0: none)
    double confirm_slower = 1.0;   // the streams run this much slower in confirms
    uint64_t confirm_dropouts = 0; // the system's misses in each confirm, which still runs on
};

bool fake_trial(void* context, const TrialRequest* request, TrialOutcome* outcome) {
    auto* fake = static_cast<FakeTrial*>(context);
    fake->calls += 1;
    fake->largest_tried =
        request->streams > fake->largest_tried ? request->streams : fake->largest_tried;
    if (fake->calls == fake->stop_at_call) {
        return false;
    }
    bool confirm = request->periods == CONFIRM;
    const double slower = confirm ? fake->confirm_slower : 1.0;
    bool holds = request->streams * slower <= fake->threshold;
    if (!confirm) {
        holds = holds ||
                (request->streams >= fake->island_low && request->streams <= fake->island_high);
        if (std::uniform_real_distribution<double>(0, 1)(fake->random) < fake->noise) {
            holds = !holds;
        }
    }
    // A rare stall of the system, at high counts only: not the processor's limit.
    bool stall = fake->stall_every != 0 && fake->calls % fake->stall_every == 0;
    // A failed confirm runs until its miss budget is spent, every period missed.
    const uint64_t failed =
        confirm && !holds ? std::min(request->periods, request->miss_budget + 1) : 1;
    outcome->periods = holds && !stall ? request->periods : failed;
    outcome->missed = holds && !stall ? 0 : failed;
    outcome->misses.by_cause[holds ? CAUSE_PREEMPTED : CAUSE_WORK] = outcome->missed;
    if (confirm && holds && !stall) {
        outcome->missed = fake->confirm_dropouts;
        outcome->misses.by_cause[CAUSE_LATE_WAKEUP] = fake->confirm_dropouts;
    }
    for (uint64_t p = 0; p < outcome->periods; ++p) { // the work grows with the streams
        histogram_add(&outcome->processing,
                      static_cast<int64_t>(request->streams * slower * MS / fake->threshold));
    }
    for (uint32_t c = 0; c < request->checkpoint_count; ++c) {
        outcome->worst_checkpoint_ns[c] = int64_t{request->checkpoints[c]} * MS / fake->threshold;
    }
    return true;
}

// The confirm is aimed at 97 % of the period, and the fake's work fills it
// exactly at its threshold.
uint32_t aimed(uint32_t threshold) {
    return threshold * 97 / 100;
}

SearchResult search(FakeTrial* fake, uint32_t bound) {
    SearchPlan plan{bound, SHORT, CONFIRM, 0.0, MS, 200, 50, 2};
    auto result = std::make_unique<SearchResult>();
    search_capacity(fake_trial, fake, &plan, result.get());
    return *result;
}
} // namespace

TEST(CapacitySearch, FindsAKnownThresholdAndItsHeadroomButNeverPassesTheBound) {
    FakeTrial exact{137, 0, 0, 0.0, std::mt19937(1), 0, 0, 0, 0};
    SearchResult found = search(&exact, 1000);
    EXPECT_EQ(found.state, SEARCH_CONFIRMED);
    EXPECT_EQ(found.sustained, aimed(137));
    EXPECT_EQ(found.headroom, 105u); // the 80 % checkpoint: within 80 % of the period
    EXPECT_NEAR(found.speed_spread, 1.0, 0.01);
    EXPECT_LE(exact.largest_tried, 1000u);

    FakeTrial large{11000, 0, 0, 0.0, std::mt19937(1), 0, 0, 0, 0};
    found = search(&large, 20000);
    EXPECT_EQ(found.state, SEARCH_CONFIRMED);
    EXPECT_LE(found.sustained, 11000u);
    EXPECT_GE(found.sustained, aimed(11000) - 11000u / 100);
    EXPECT_LE(found.headroom, 8800u);
    EXPECT_GE(found.headroom, found.sustained * 79 / 100);

    FakeTrial beyond{5000, 0, 0, 0.0, std::mt19937(1), 0, 0, 0, 0};
    found = search(&beyond, 300);
    EXPECT_EQ(found.sustained, 300u);
    EXPECT_LE(beyond.largest_tried, 300u);
}

TEST(CapacitySearch, NoisyAndNonMonotonicTrialsNeverReportAnUnconfirmedCount) {
    // The first bisection step lands in the island: every short trial there
    // holds, every confirm fails, and the search must come back below.
    FakeTrial island{400, 790, 810, 0.0, std::mt19937(1), 0, 0, 0, 0};
    SearchResult found = search(&island, 1600);
    EXPECT_EQ(found.state, SEARCH_CONFIRMED);
    EXPECT_LE(found.sustained, 400u);
    EXPECT_GE(found.sustained, 300u);
    EXPECT_GE(island.largest_tried, 800u);
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        FakeTrial noisy{400, 700, 720, 0.15, std::mt19937(seed), 0, 0, 0, 0};
        found = search(&noisy, 1000);
        EXPECT_EQ(found.state, SEARCH_CONFIRMED) << seed;
        EXPECT_LE(found.sustained, 400u) << seed;
        EXPECT_GT(found.sustained, 0u) << seed;
    }
}

TEST(CapacitySearch, RareStallsOfTheSystemDoNotLowerTheCapacity) {
    for (uint32_t every : {2u, 3u}) {
        FakeTrial stalling{7300, 0, 0, 0.0, std::mt19937(1), 0, 0, 0, every};
        SearchResult found = search(&stalling, 12000);
        EXPECT_EQ(found.state, SEARCH_CONFIRMED) << every;
        EXPECT_LE(found.sustained, 7300u) << every;
        EXPECT_GE(found.sustained, aimed(7300) - 7300u / 100) << every;
        EXPECT_GT(found.misses.by_cause[CAUSE_PREEMPTED], 0u) << every;
    }
}

TEST(CapacitySearch, AConfirmHoldsOnItsWorkAndFollowsAMachineThatSlowedDown) {
    // The system drops 5 % of each confirm's periods: its dropouts, not a failed count.
    FakeTrial dropping{7300, 0, 0, 0.0, std::mt19937(1), 0, 0, 0, 0};
    dropping.confirm_dropouts = 5;
    SearchResult found = search(&dropping, 12000);
    EXPECT_EQ(found.state, SEARCH_CONFIRMED);
    EXPECT_GE(found.sustained, aimed(7300) - 7300u / 100);
    EXPECT_EQ(found.confirm_trials, 1u);

    // The streams run a quarter slower by the time of the confirm: its
    // median aims the next one, instead of many small steps down.
    FakeTrial slowed{7300, 0, 0, 0.0, std::mt19937(1), 0, 0, 0, 0};
    slowed.confirm_slower = 1.25;
    found = search(&slowed, 12000);
    EXPECT_EQ(found.state, SEARCH_CONFIRMED);
    EXPECT_LE(found.sustained, 5840u);
    EXPECT_GE(found.sustained, aimed(5840) * 9 / 10);
    EXPECT_LE(found.confirm_trials, 3u);
    EXPECT_NEAR(found.speed_spread, 1.25, 0.01);
}

TEST(CapacitySearch, AStopEndsTheSearchAtOnce) {
    FakeTrial stopped{400, 0, 0, 0.0, std::mt19937(1), 0, 3, 0, 0};
    SearchResult found = search(&stopped, 1000);
    EXPECT_EQ(found.state, SEARCH_INTERRUPTED);
    EXPECT_EQ(stopped.calls, 3u);
    EXPECT_EQ(found.sustained, 0u);
}
