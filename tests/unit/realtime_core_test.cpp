// The real-time mode's platform-free parts: histogram bins, overflow and
// percentiles; the period grid over an hour at 44100 Hz; miss counting and
// causes on a fake clock with a fake observer; the gathering of several
// threads' misses; stream sets restarted between trials; the idle gate.
#include "engine/realtime/capacity_search.h"
#include "engine/realtime/clock_driver.h"
#include "engine/realtime/histogram.h"
#include "engine/realtime/hold_rule.h"
#include "engine/realtime/hold_shape.h"
#include "engine/realtime/miss_classify.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/period_loop.h"
#include "engine/realtime/stream_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
void run_loop(LoopRun* run, uint64_t miss_budget, uint64_t warmup = 0) {
    run->clock = FakeClock{1000 * MS, {0, 150 * MS}, {MS, MS, MS, 120 * MS, MS, MS}, 0, false};
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

namespace {
void run_periods(StreamSet* set, uint32_t periods) {
    for (uint32_t p = 0; p < periods; ++p) {
        stream_set_run(set, 0, set->capacity);
        stream_set_finish_period(set, set->capacity);
    }
}

// What stream s wrote last: its output block, or the mix's bus.
const void* output_of(const StreamSet* set, uint32_t s) {
    if (set->test == RT_ZEMM) {
        return set->bus;
    }
    return static_cast<const char*>(set->blocks) + (size_t{s} * 2 + 1) * set->frames * 4;
}

bool same_output(const StreamSet* a, const StreamSet* b, uint32_t s) {
    return std::memcmp(output_of(a, s), output_of(b, s), size_t{a->frames} * 4) == 0;
}
} // namespace

// Restarted after some periods, the first streams play what streams just
// prepared play, period after period; the others carry on where they were.
TEST(StreamSet, RestartedStreamsPlayAsJustPreparedOnesAndOnlyThose) {
    MixData mix{};
    ASSERT_TRUE(mix_data_prepare(&mix));
    for (RtTestKind test : {RT_ZEM1, RT_ZEM2, RT_ZEMM}) {
        StreamSet used{}, fresh{};
        ASSERT_TRUE(stream_set_prepare(&used, test, 64, 4, &mix));
        ASSERT_TRUE(stream_set_prepare(&fresh, test, 64, 4, &mix));
        run_periods(&used, 7);
        stream_set_restart(&used, 2);
        for (uint32_t p = 0; p < 3; ++p) {
            run_periods(&used, 1);
            run_periods(&fresh, 1);
            for (uint32_t s = 0; s < 2; ++s) {
                EXPECT_TRUE(same_output(&used, &fresh, s))
                    << test << " stream " << s << " period " << p;
            }
            if (test != RT_ZEMM && p == 0) {
                EXPECT_FALSE(same_output(&used, &fresh, 2)) << test;
                EXPECT_FALSE(same_output(&used, &fresh, 3)) << test;
            }
        }
        stream_set_free(&used);
        stream_set_free(&fresh);
    }
    mix_data_free(&mix);
}

namespace {
// A hold's periods drawn here: 1 ms of work a period with a few percent of
// noise, woken 50 us late, and what each case adds on top.
struct DrawnHold {
    std::vector<PeriodSample> samples;
    std::mt19937 noise{7};
    explicit DrawnHold(size_t periods) : samples(periods) {
        std::uniform_real_distribution<double> jitter(0.97, 1.03);
        for (PeriodSample& sample : samples) {
            sample = PeriodSample{static_cast<int64_t>(1e6 * jitter(noise)), -1, 50000};
        }
    }
    void scale(size_t first, size_t end, double factor) {
        for (size_t p = first; p < end && p < samples.size(); ++p) {
            samples[p].processing_ns =
                static_cast<int64_t>(static_cast<double>(samples[p].processing_ns) * factor);
        }
    }
    HoldShape shape() {
        const PeriodSample* threads[1] = {samples.data()};
        HoldShape read{};
        EXPECT_TRUE(
            hold_shape_of(threads, 1, samples.size(), grid_period_ns(256, 48000), true, &read));
        return read;
    }
};
} // namespace

TEST(HoldShape, TellsALoadsBurstsItsSlowPhasesAndTheHostsPausesApart) {
    // 4x for 9 periods every 75 (48 ms every 400 ms at 256 samples), with
    // one of the host's short pauses between each two.
    DrawnHold bursts(600);
    for (size_t start = 30; start < 600; start += 75) {
        bursts.scale(start, start + 9, 4.0);
    }
    for (size_t pause = 67; pause < 600; pause += 75) {
        bursts.scale(pause, pause + 1, 6.0);
    }
    HoldShape shape = bursts.shape();
    EXPECT_TRUE(shape.limits.bursts);
    EXPECT_NEAR(shape.limits.burst_factor, 4.0, 0.3);
    EXPECT_NEAR(shape.limits.burst_every_ms, 400.0, 30.0);
    EXPECT_NEAR(shape.limits.burst_ms, 48.0, 12.0);
    EXPECT_FALSE(shape.limits.slow_phases);

    // A second of 1.6x in three.
    DrawnHold phase(563);
    phase.scale(200, 388, 1.6);
    shape = phase.shape();
    EXPECT_TRUE(shape.limits.slow_phases);
    EXPECT_NEAR(shape.limits.slow_factor, 1.6, 0.15);
    EXPECT_NEAR(shape.limits.slow_share, 188.0 / 563.0, 0.08);
    EXPECT_FALSE(shape.limits.bursts);
    EXPECT_EQ(shape.limits.pauses, 0u);

    // Four pauses of 6 ms more at no fixed interval: the host's.
    DrawnHold pauses(563);
    for (size_t pause : {37u, 211u, 250u, 480u}) {
        pauses.samples[pause].processing_ns += 6000000;
    }
    shape = pauses.shape();
    EXPECT_FALSE(shape.limits.bursts);
    EXPECT_FALSE(shape.limits.slow_phases);
    EXPECT_EQ(shape.limits.pauses, 4u);
    EXPECT_NEAR(shape.limits.pause_longest_ms, 6.0, 0.2);
    EXPECT_NEAR(shape.spread.max, 7.0, 0.3);
}

// The idle gate is a rate: a few misses in a short run say nothing of 1 %,
// and the edge of a long run lies where the Poisson tail, summed here in
// logs, falls under the gate's odds.
TEST(IdleGate, JudgesTheRateNotOneLateWakeUp) {
    EXPECT_TRUE(idle_sustainable(24, 24, 1, 0.01));
    EXPECT_TRUE(idle_sustainable(24, 24, 2, 0.01));
    EXPECT_FALSE(idle_sustainable(24, 24, 3, 0.01));
    EXPECT_FALSE(idle_sustainable(24, 23, 0, 0.01)); // it ran short
    EXPECT_TRUE(idle_sustainable(2000000, 2000000, 20000, 0.01));
    EXPECT_FALSE(idle_sustainable(2000000, 2000000, 21000, 0.01));
    const double mean = 22.5; // 2250 periods at 1 %
    auto at_least = [mean](uint64_t m) {
        double sum = 0.0;
        for (uint64_t k = m; k < 400; ++k) {
            const double kd = static_cast<double>(k);
            sum += std::exp(kd * std::log(mean) - mean - std::lgamma(kd + 1.0));
        }
        return sum;
    };
    for (uint64_t m = 0; m < 60; ++m) {
        EXPECT_EQ(idle_sustainable(2250, 2250, m, 0.01), at_least(m) >= IDLE_GATE_ODDS) << m;
    }
}
