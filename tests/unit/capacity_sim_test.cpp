// The capacity search on simulated machines whose true capacity is known
// (tests/fakes/sim_machine.h): eight families of machines, each drawn over
// the buffer sizes 64 to 1024 at 48 kHz, capacities of 100 to 20000
// streams and one to four threads. Each thread's periods go through the
// real loop, its verdicts, the real classifier and the gathering of the
// threads' misses, on a clock the machine advances; the search learns
// nothing of the machine but what those periods show, and an idle run.
//
// The truth is the machine's alone: the largest count at which a hold of
// the confirm's length misses no more periods than the idle run allows in
// most holds (TRUTH_ODDS of them, each at an independent time): the count
// a second run at it plays more often than not.
#include "engine/realtime/capacity_search.h"
#include "engine/realtime/clock_driver.h"
#include "engine/realtime/period_driver.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/period_loop.h"
#include "engine/realtime/realtime_run.h"
#include "tests/fakes/sim_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr uint32_t MACHINES = 150; // a family
constexpr uint32_t REPLICAS = 100; // holds the truth is taken over
constexpr double TRUTH_ODDS = 0.5;
// A search that reports a count once it played cannot be surer than its
// holds' luck: the table says how often the luckiest tenth of holds play
// more than 3 % over the truth.
constexpr double LUCKY_ODDS = 0.1;
constexpr double CONFIRM_SECONDS = 3.0;
constexpr uint32_t MAX_THREADS = 4;
// Between two trials the machine runs on for this long.
constexpr double TRIAL_GAP_SECONDS = 0.05;

struct Sim;

// One measuring thread's clock: the machine's time as that thread sees it.
struct ThreadClock {
    Sim* sim;
    uint32_t thread;
    uint64_t period; // in the trial, the warm-up's first 0
    int64_t clock_ns;
    bool working;
    int64_t work_ns;
    RtThreadCounters counters;
};

struct Sim {
    SimMachine machine;
    SimRandom random{0};
    std::unique_ptr<SimTimeline> timeline;
    uint64_t next_period; // the next trial's first, on the machine's grid
    uint32_t streams;
    std::vector<SimCommon> common;
    std::unique_ptr<PeriodStats> stats[MAX_THREADS];
    std::vector<MissRecord> records[MAX_THREADS];
    std::vector<uint64_t> maps[MAX_THREADS];
    std::vector<PeriodSample> samples[MAX_THREADS];
    uint32_t trials;
    uint32_t stop_at;             // the trial a stop comes in (0: none)
    uint32_t fits;                // the most streams its memory holds (0: no limit)
    uint64_t spent;               // the periods run, warm-ups included
    uint64_t spent_at_first_play; // `spent` when a hold first ran whole within its budget
};

int64_t sim_now(void* context) {
    auto* clock = static_cast<ThreadClock*>(context);
    clock->working = !clock->working;
    if (!clock->working) { // the work's end
        clock->clock_ns += clock->work_ns;
        clock->counters.cpu_ns += clock->work_ns; // pauses too: the thread's own time
    }
    return clock->clock_ns;
}

void sim_sleep(void* context, int64_t when_ns) {
    auto* clock = static_cast<ThreadClock*>(context);
    Sim* sim = clock->sim;
    const SimMachine* m = &sim->machine;
    const SimDraw draw = sim_draw(m, &sim->random);
    const uint32_t streams = sim_share(sim->streams, m->threads, clock->thread);
    const SimCommon* common = &sim->common[static_cast<size_t>(clock->period)];
    clock->work_ns = static_cast<int64_t>(sim_work(m, common, &draw, streams));
    clock->clock_ns = std::max(clock->clock_ns, when_ns) + static_cast<int64_t>(draw.late_ns);
    clock->period += 1;
}

void sim_counters(void* context, RtThreadCounters* counters) {
    *counters = static_cast<ThreadClock*>(context)->counters;
}

bool sim_trial(void* context, const TrialRequest* request, TrialOutcome* outcome) {
    auto* sim = static_cast<Sim*>(context);
    const SimMachine* m = &sim->machine;
    sim->trials += 1;
    if (sim->trials == sim->stop_at) {
        return false;
    }
    if (sim->fits > 0 && request->streams > sim->fits) {
        outcome->refused = true;
        outcome->prepared = sim->fits;
        return true;
    }
    sim->streams = request->streams;
    const uint64_t total = request->warmup_periods + request->periods;
    sim->common.resize(static_cast<size_t>(total));
    sim_common(m, sim->timeline.get(), sim->next_period, total, sim->common.data());
    std::atomic<int32_t> halt{HALT_NONE};
    LoopPlan plan{PeriodGrid{0, m->frames, m->rate},
                  request->warmup_periods,
                  request->periods,
                  request->miss_budget,
                  request->judge,
                  &halt};
    PeriodStats* threads[MAX_THREADS] = {};
    for (uint32_t t = 0; t < m->threads; ++t) {
        threads[t] = sim->stats[t].get();
        period_stats_reset(threads[t]);
        ThreadClock thread{sim, t, 0, 0, false, 0, RtThreadCounters{0, 0}};
        RtClock clock{sim_now, sim_sleep, &thread, sim_counters, &thread};
        PeriodJob job{};
        run_period_loop(&clock, &plan, &job, threads[t]);
    }
    gather_threads(threads, m->threads, grid_period_ns(m->frames, m->rate), nullptr,
                   request->streams > 0, outcome);
    sim->next_period += total + grid_periods_in(TRIAL_GAP_SECONDS, m->frames, m->rate, 1);
    sim->spent += request->warmup_periods + outcome->periods;
    const bool hold_played = request->checkpoint_count > 0 &&
                             outcome->periods == request->periods &&
                             outcome->missed <= request->miss_budget;
    if (hold_played && sim->spent_at_first_play == 0) {
        sim->spent_at_first_play = sim->spent;
    }
    return true;
}

struct SearchRun {
    SimMachine machine;
    SearchPlan plan;
    uint32_t truth;
    uint32_t lucky; // the count a tenth of the holds play, the luckiest
    SearchResult result;
    uint32_t calls; // of the trial function
    uint64_t spent_at_first_play;
};

std::unique_ptr<Sim> make_sim(const SimMachine* machine, uint64_t max_periods) {
    auto sim = std::make_unique<Sim>();
    sim->machine = *machine;
    sim->random = SimRandom(machine->seed + 1);
    sim->timeline = std::make_unique<SimTimeline>(&sim->machine, machine->seed + 2);
    // The search starts well into the machine's life, its speed settled.
    sim->next_period =
        grid_periods_in(sim->random.between(30.0, 90.0), machine->frames, machine->rate, 1);
    for (uint32_t t = 0; t < machine->threads; ++t) {
        sim->stats[t] = std::make_unique<PeriodStats>();
        sim->records[t].resize(MAX_MISS_RECORDS);
        sim->maps[t].resize(static_cast<size_t>(max_periods / 64 + 1));
        sim->stats[t]->records = sim->records[t].data();
        sim->stats[t]->miss_map = sim->maps[t].data();
        sim->stats[t]->miss_map_periods = max_periods;
        sim->samples[t].resize(static_cast<size_t>(max_periods));
        sim->stats[t]->samples = sim->samples[t].data();
        sim->stats[t]->sample_capacity = max_periods;
    }
    return sim;
}

// What the run would give the search before it starts: the idle run's
// floor and figures, and the kernel timed alone (faster or slower than the
// streams turn out to be).
SearchPlan plan_for(const SimMachine* m, SimRandom* random) {
    SearchPlan plan{};
    plan.short_periods =
        grid_periods_in(SHORT_TRIAL_SECONDS, m->frames, m->rate, SHORT_TRIAL_MIN_PERIODS);
    plan.hold_periods = grid_periods_in(CONFIRM_SECONDS, m->frames, m->rate, 1);
    plan.warmup_periods = grid_periods_in(WARMUP_SECONDS, m->frames, m->rate, WARMUP_MIN_PERIODS);
    const SimIdle idle = sim_idle_run(m, plan.hold_periods, plan.warmup_periods, random->next());
    plan.idle = IdleFloor{idle.periods, idle.missed};
    plan.period_ns = grid_period_ns(m->frames, m->rate);
    plan.threads = m->threads;
    plan.fixed_ns = idle.median_ns;
    plan.per_stream_ns = m->per_stream_ns * random->between(0.6, 1.1);
    plan.usual_late_ns = static_cast<int64_t>(m->late_ns + m->jitter_ns * std::log(2.0));
    plan.throttle_share = 0.95;
    plan.upper_bound = static_cast<uint32_t>(1.5 * static_cast<double>(plan.period_ns) /
                                             plan.per_stream_ns * m->threads);
    plan.max_trials = MAX_SEARCH_TRIALS;
    plan.max_holds = MAX_HOLDS;
    plan.max_played = MAX_PLAYED_HOLDS;
    return plan;
}

// The largest count each of REPLICAS holds plays, from the smallest.
std::vector<uint32_t> capacities_of(const SimMachine* m, const SearchPlan* plan) {
    const double mean = plan->idle.periods > 0 ? static_cast<double>(plan->idle.missed) *
                                                     static_cast<double>(plan->hold_periods) /
                                                     static_cast<double>(plan->idle.periods)
                                               : 0.0;
    return sim_hold_capacities(m, plan->warmup_periods, plan->hold_periods, sim_poisson_90(mean),
                               plan->upper_bound, REPLICAS);
}

// What a test changes of the run the search would get; zero leaves it.
struct SimLimits {
    double ceiling = 0.0;      // the search's upper bound as a share of the truth
    uint32_t stop_at = 0;      // the trial that reports a stop
    double memory = 0.0;       // the most streams that can be prepared, as a share of the truth
    double budget_holds = 0.0; // the period budget: the probes and this many holds with warm-ups
};

SearchRun run_search(SimFamily family, uint64_t index, SimLimits limits = {}) {
    SearchRun run{};
    run.machine = sim_machine(family, index);
    SimRandom random(run.machine.seed + 3);
    run.plan = plan_for(&run.machine, &random);
    const std::vector<uint32_t> capacities = capacities_of(&run.machine, &run.plan);
    run.truth = sim_true_capacity(capacities, TRUTH_ODDS);
    run.lucky = sim_true_capacity(capacities, LUCKY_ODDS);
    if (limits.ceiling > 0.0) {
        run.plan.upper_bound = std::max(1u, static_cast<uint32_t>(limits.ceiling * run.truth));
    }
    if (limits.budget_holds > 0.0) {
        const uint64_t warmup = run.plan.warmup_periods;
        run.plan.period_budget = static_cast<uint64_t>(
            static_cast<double>(MAX_SHORT_TRIALS * (run.plan.short_periods + warmup)) +
            limits.budget_holds * static_cast<double>(run.plan.hold_periods + warmup));
    }
    auto sim = make_sim(&run.machine, std::max(run.plan.short_periods, run.plan.hold_periods));
    sim->stop_at = limits.stop_at;
    sim->fits = static_cast<uint32_t>(limits.memory * run.truth);
    search_capacity(sim_trial, sim.get(), &run.plan, &run.result);
    // A count reported rests on the hold shown beside it.
    if (run.result.state == SEARCH_PLAYED) {
        EXPECT_EQ(run.result.hold_streams, run.result.plays) << family_name(family) << index;
        EXPECT_LE(run.result.hold.missed, run.result.allowance) << family_name(family) << index;
    }
    // And the hold kept as the one that failed did.
    if (run.result.failed_at > 0) {
        const TrialOutcome& failed = run.result.failed;
        EXPECT_TRUE(failed.periods < run.plan.hold_periods || failed.missed > run.result.allowance)
            << family_name(family) << index;
    }
    run.calls = sim->trials;
    run.spent_at_first_play = sim->spent_at_first_play;
    return run;
}

struct FamilyFigures {
    uint32_t machines;
    uint32_t within; // found at 90 % of the truth or more
    uint32_t above;  // found over 103 % of it
    uint32_t lucky;  // a tenth of the holds play over 103 % of it
    double median_ratio;
    double trials;
    double holds;
};

FamilyFigures measure_family(SimFamily family) {
    FamilyFigures figures{};
    std::vector<double> ratios;
    for (uint32_t i = 0; i < MACHINES; ++i) {
        const SearchRun run = run_search(family, i);
        const uint64_t found = run.result.plays;
        const uint64_t truth = run.truth;
        EXPECT_LE(run.result.largest_tried, run.plan.upper_bound) << family_name(family) << i;
        figures.machines += 1;
        figures.within += found * 10 >= truth * 9 ? 1 : 0;
        figures.above += found * 100 > truth * 103 ? 1 : 0;
        figures.lucky += uint64_t{run.lucky} * 100 > truth * 103 ? 1 : 0;
        if (truth > 0) {
            ratios.push_back(static_cast<double>(found) / static_cast<double>(truth));
        }
        figures.trials += run.result.trials;
        figures.holds += run.result.holds;
    }
    std::sort(ratios.begin(), ratios.end());
    figures.median_ratio = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
    figures.trials /= figures.machines;
    figures.holds /= figures.machines;
    std::printf("%-17s machines %3u  found/truth median %.3f  within 10 %% below %5.1f %%  "
                "over 3 %% above %5.1f %% (by luck %5.1f %%)  trials %4.1f  holds %3.1f\n",
                family_name(family), figures.machines, figures.median_ratio,
                100.0 * figures.within / figures.machines, 100.0 * figures.above / figures.machines,
                100.0 * figures.lucky / figures.machines, figures.trials, figures.holds);
    return figures;
}

// The aim: at least 95 % of a family's machines end within 10 % below the
// truth, and at most 1 % more than 3 % above it. Where the search does not
// reach it yet, the family's bounds are what it does reach, so that a
// change that makes it worse fails; the table printed gives the figures.
struct FamilyBounds {
    uint32_t within_percent; // at least
    uint32_t above_percent;  // at most
};
constexpr FamilyBounds AIM = {95, 1};

void expect_family(SimFamily family, FamilyBounds bounds) {
    const FamilyFigures figures = measure_family(family);
    EXPECT_GE(figures.within * 100, figures.machines * bounds.within_percent)
        << family_name(family);
    EXPECT_LE(figures.above * 100, figures.machines * bounds.above_percent) << family_name(family);
    if (bounds.within_percent < AIM.within_percent || bounds.above_percent > AIM.above_percent) {
        std::printf("%-17s short of the aim (%u %% within, %u %% above)\n", family_name(family),
                    AIM.within_percent, AIM.above_percent);
    }
}
} // namespace

// Short of the aim, for what the traces show: a hold at the edge plays
// about as often as it fails, and one more hold at the count that played
// narrows that but does not close it (on 30 % of the exponential machines
// and 71 % of the Pareto ones a tenth of the holds play more than 3 % over
// the truth, and a search has 4 or 5); a machine that runs at two speeds for seconds plays the
// fast speed in a hold that falls wholly in a fast stretch; and a 3 s idle
// run rarely sees the host's pauses that come a few times a minute, so its
// allowance is none while a hold often meets one.
TEST(CapacitySimulation, ExponentialTail) {
    expect_family(FAMILY_EXPONENTIAL, {90, 8});
}

TEST(CapacitySimulation, GaussianTail) {
    expect_family(FAMILY_GAUSSIAN, {90, 8});
}

TEST(CapacitySimulation, ParetoTail) {
    expect_family(FAMILY_PARETO, {76, 9});
}

TEST(CapacitySimulation, TwoSpeeds) {
    expect_family(FAMILY_TWO_SPEEDS, {82, 50});
}

TEST(CapacitySimulation, LockstepBursts) {
    expect_family(FAMILY_BURSTS, {84, 5});
}

TEST(CapacitySimulation, SlowPhases) {
    expect_family(FAMILY_SLOW_PHASES, {84, 9});
}

TEST(CapacitySimulation, ColdStart) {
    expect_family(FAMILY_COLD_START, {95, 5});
}

TEST(CapacitySimulation, HostPauses) {
    expect_family(FAMILY_HOST_PAUSES, {63, 34});
}

// A bound well under the truth: the bound itself plays, and nothing above
// it is tried.
TEST(CapacitySimulation, ALowCeilingPlays) {
    for (SimFamily family : {FAMILY_EXPONENTIAL, FAMILY_GAUSSIAN, FAMILY_BURSTS}) {
        for (uint64_t i = 0; i < 10; ++i) {
            const SearchRun run = run_search(family, i, {.ceiling = 0.3});
            const uint32_t ceiling = run.plan.upper_bound;
            EXPECT_EQ(run.result.state, SEARCH_PLAYED) << family_name(family) << i;
            EXPECT_EQ(run.result.end, END_CEILING) << family_name(family) << i;
            EXPECT_EQ(run.result.plays, ceiling) << family_name(family) << i;
            EXPECT_LE(run.result.largest_tried, ceiling) << family_name(family) << i;
        }
    }
}

// A trial that reports a stop ends the search there, whether it came in a
// probe or a hold: no trial after it, nothing reported as played.
TEST(CapacitySimulation, AStopEndsTheSearchAtOnce) {
    for (uint64_t i = 0; i < 10; ++i) {
        const SearchRun whole = run_search(FAMILY_EXPONENTIAL, i);
        for (uint32_t stop_at : {1u, 2u, whole.result.trials}) {
            const SearchRun run = run_search(FAMILY_EXPONENTIAL, i, {.stop_at = stop_at});
            EXPECT_EQ(run.result.state, SEARCH_INTERRUPTED) << i << " at " << stop_at;
            EXPECT_EQ(run.result.end, END_NONE) << i << " at " << stop_at;
            EXPECT_EQ(run.result.trials, stop_at) << i << " at " << stop_at;
            EXPECT_EQ(run.calls, stop_at) << i << " at " << stop_at;
            EXPECT_EQ(run.result.plays, 0u) << i << " at " << stop_at;
        }
    }
}

// Memory that holds fewer streams than play: the counts past it are
// refused, not run, and the most that fit plays, stopped by the limit;
// memory to spare leaves the search its own answer.
TEST(CapacitySimulation, TheMemoryLimitLowersTheCeiling) {
    for (uint64_t i = 0; i < 10; ++i) {
        const SearchRun run = run_search(FAMILY_EXPONENTIAL, i, {.memory = 0.4});
        const uint32_t fits = static_cast<uint32_t>(0.4 * run.truth);
        EXPECT_EQ(run.result.state, SEARCH_PLAYED) << i;
        EXPECT_EQ(run.result.end, END_MEMORY) << i;
        EXPECT_EQ(run.result.plays, fits) << i;
        EXPECT_GT(run.result.refused_at, fits) << i;
        EXPECT_GT(run.calls, run.result.trials) << i; // the refused ones are not trials
        const SearchRun roomy = run_search(FAMILY_EXPONENTIAL, i, {.memory = 2.0});
        EXPECT_NE(roomy.result.end, END_MEMORY) << i;
        EXPECT_LE(roomy.result.plays, static_cast<uint32_t>(2.0 * roomy.truth)) << i;
    }
}

// A share of the run's time that runs out: once a count played, no hold
// starts past it and that count is reported; before one played, the
// search goes on, so that a count is found that held.
TEST(CapacitySimulation, ABudgetStopsHoldsOnlyOnceACountPlayed) {
    uint32_t stopped = 0;
    for (SimFamily family : {FAMILY_EXPONENTIAL, FAMILY_HOST_PAUSES, FAMILY_BURSTS}) {
        for (uint64_t i = 0; i < 20; ++i) {
            const SearchRun run = run_search(family, i, {.budget_holds = 1.5});
            const SearchResult& found = run.result;
            if (run.spent_at_first_play > 0) {
                EXPECT_LE(found.spent_periods,
                          std::max(run.plan.period_budget, run.spent_at_first_play))
                    << family_name(family) << i;
            }
            if (found.end == END_BUDGET) {
                stopped += 1;
                EXPECT_EQ(found.state, SEARCH_PLAYED) << family_name(family) << i;
                EXPECT_GT(found.plays, 0u) << family_name(family) << i;
            }
        }
    }
    EXPECT_GT(stopped, 0u);
}
