#include "engine/realtime/run_context.h"

#include "engine/realtime/period_grid.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
// The system's dropouts: the idle run's misses, where no load can cause
// one.
void count_dropouts(RtConfigResult* config, const MissCounts* misses, uint64_t periods) {
    miss_counts_add(&config->dropouts, misses);
    config->dropout_minutes +=
        static_cast<double>(periods) * static_cast<double>(config->period_ns) / 60e9;
    config->dropouts_per_minute =
        config->dropout_minutes > 0.0
            ? static_cast<double>(miss_total(&config->dropouts)) / config->dropout_minutes
            : 0.0;
}

// Processor time per period and thread of the trial that ran `periods`;
// -1 when the system does not count it.
int64_t harness_ns(const PeriodDriver* driver, uint64_t periods) {
    uint64_t spans = periods * driver->threads;
    return spans > 0 && driver->cpu_ns > 0 ? driver->cpu_ns / static_cast<int64_t>(spans) : -1;
}

// Once, at the smallest buffer size on one thread of our own clock: the
// idle floor again with the idle states let go, then held again. It
// compares wake-ups only, so a second of it is enough.
constexpr double IDLE_EFFECT_SECONDS = 1.0;
void measure_idle_effect(RunContext* run, PeriodDriver* driver, RtConfigResult* config,
                         const TrialRequest* idle, const TrialOutcome* held) {
    RtRunResult* result = run->result;
    const RtPlan* plan = run->plan;
    const uint32_t smallest = *std::min_element(plan->buffers.begin(), plan->buffers.end());
    if (result->idle_effect.measured || result->idle_states.done == 0 ||
        driver->kind != RT_CLOCK_OWN || config->threads != 1 || config->frames != smallest) {
        return;
    }
    progress(run, "buffer %u, 1 core: idle system again, deep idle states allowed", config->frames);
    auto free = std::make_unique<TrialOutcome>();
    TrialRequest request = *idle;
    request.periods = std::min(request.periods,
                               grid_periods_in(IDLE_EFFECT_SECONDS, config->frames, plan->rate, 1));
    run->system->release_idle_states();
    bool finished = driver_trial(driver, &request, free.get());
    RtStep again{};
    run->system->hold_idle_states(&again);
    if (!finished) {
        result->stop_signal = driver->stop_signal; // a stop here ends the run like any other
        return;
    }
    result->idle_effect.measured = true;
    result->idle_effect.frames = config->frames;
    keep_figures(&result->idle_effect.held, 0, held);
    keep_figures(&result->idle_effect.free, 0, free.get());
}
} // namespace

bool run_idle(RunContext* run, PeriodDriver* driver, RtConfigResult* config) {
    const RtPlan* plan = run->plan;
    const double seconds = idle_seconds(plan);
    uint64_t periods = grid_periods_in(seconds, config->frames, plan->rate, 1);
    // The whole length even when it misses: its misses and lateness are the
    // idle floor the report gives, and each hold's allowance.
    TrialRequest request{0, 0, periods, UINT64_MAX, MissJudge{config->period_ns, 0, 0, false},
                         0, {}};
    run->measurement += 1;
    TrialOutcome outcome{};
    progress(run, "buffer %u, %u core%s: idle system, %g s", config->frames, config->threads,
             config->threads == 1 ? "" : "s", seconds);
    driver_set_streams(driver, nullptr);
    bool finished = driver_trial(driver, &request, &outcome);
    keep_steps(run, driver);
    keep_figures(&config->idle, 0, &outcome);
    config->idle_shape = outcome.shape;
    // Some systems count thread time coarsely or not at all: 0 means unknown.
    config->harness_cpu_ns_per_period = harness_ns(driver, outcome.periods);
    if (!finished) {
        run->result->stop_signal = driver->stop_signal;
        return false;
    }
    config->idle_done = true;
    measure_idle_effect(run, driver, config, &request, &outcome);
    if (run->result->stop_signal != 0) {
        return false;
    }
    // With no streams every miss is the system's.
    count_dropouts(config, &outcome.misses, outcome.periods);
    const double limit = plan->allowed_miss_fraction > SYSTEM_MISS_LIMIT
                             ? plan->allowed_miss_fraction
                             : SYSTEM_MISS_LIMIT;
    config->sustainable = idle_sustainable(periods, outcome.periods, outcome.missed, limit);
    return true;
}
