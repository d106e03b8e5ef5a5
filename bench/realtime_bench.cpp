// What the real-time mode's own machinery costs a period, beside the
// streams' work: the bookkeeping of one period (the thread's counters and
// its accounting), and the whole loop of an idle period with a real
// absolute sleep. Each reports the share of a 256-sample period at 48 kHz.
#include "engine/realtime/miss_classify.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/period_loop.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {
const int64_t PERIOD_256_NS = grid_period_ns(256, 48000);

struct Rig {
    std::unique_ptr<PeriodStats> stats = std::make_unique<PeriodStats>();
    std::vector<MissRecord> records = std::vector<MissRecord>(MAX_MISS_RECORDS);
    RtClock clock{real_now_ns, nullptr, nullptr, real_thread_counters, nullptr};
    MissJudge judge{PERIOD_256_NS, 0, PERIOD_256_NS / 2, false};
    Rig() {
        stats->records = records.data();
        period_stats_reset(stats.get());
        period_begin(stats.get(), &clock);
    }
};

// Percent of the period one iteration takes, in processor time.
void share_of_period(benchmark::State& state) {
    state.counters["percent_of_256_at_48k"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(PERIOD_256_NS) / 1e9 / 100.0,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The counters read at each period's end and the period's accounting, on
// a period that met its deadline (a miss adds the edge counters once).
void BM_PeriodBookkeeping(benchmark::State& state) {
    Rig rig;
    uint64_t index = 0;
    for (auto _ : state) {
        const int64_t now = rt_now_ns();
        RtThreadCounters counters{};
        rt_thread_counters(&counters);
        const PeriodTimes times{now, now + PERIOD_256_NS, now, now};
        benchmark::DoNotOptimize(
            period_account(rig.stats.get(), &rig.judge, index++, &times, &counters));
    }
    share_of_period(state);
}
BENCHMARK(BM_PeriodBookkeeping)->Repetitions(5)->ReportAggregatesOnly(true);

void real_sleep(void* timer, int64_t when_ns) {
    rt_sleep_until(static_cast<RtTimer*>(timer), when_ns);
}

// A whole idle period of our loop: the absolute sleep (to a time already
// passed, so that only its cost counts), the clock reads and the
// bookkeeping.
void BM_IdlePeriodHarness(benchmark::State& state) {
    Rig rig;
    RtStep step{};
    RtTimer* timer = rt_timer_open(&step);
    rig.clock.sleep_until_ns = real_sleep;
    rig.clock.context = timer;
    std::atomic<int32_t> halt{HALT_NONE};
    PeriodJob idle{};
    for (auto _ : state) {
        // A period that has just begun: the sleep returns at once, the
        // deadline is a whole period away.
        LoopPlan plan{
            PeriodGrid{rt_now_ns() - 1000, 256, 48000}, 0, 1, UINT64_MAX, rig.judge, &halt};
        benchmark::DoNotOptimize(run_period_loop(&rig.clock, &plan, &idle, rig.stats.get()));
    }
    rt_timer_close(timer);
    share_of_period(state);
}
BENCHMARK(BM_IdlePeriodHarness)->Repetitions(5)->ReportAggregatesOnly(true);
} // namespace

BENCHMARK_MAIN();
