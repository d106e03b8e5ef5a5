#include "engine/realtime/realtime_run.h"

#include "engine/realtime/period_grid.h"
#include "engine/realtime/run_context.h"
#include "platform/platform_engine.h"

#include <algorithm>
#include <cstdio>

const RtRunSystem RT_SYSTEM = {
    rt_lock_memory,       rt_hold_idle_states,   rt_release_idle_states,
    rt_stall_counters,    rt_throttle_share,     platform_shared_alloc,
    platform_shared_free, platform_run_in_child, platform_memory_available,
    platform_memory_used, platform_limit_memory};

namespace {
// Holds' lengths each of `searches` may spend: SEARCH_HOLD_LENGTHS in
// the default plan, more in a smaller one.
double search_hold_lengths(uint32_t searches) {
    const double shared = SEARCH_HOLD_LENGTHS * DEFAULT_PLAN_SEARCHES / std::max(searches, 1u);
    return std::clamp(shared, SEARCH_HOLD_LENGTHS, static_cast<double>(MAX_HOLDS));
}

// What one search may spend at `frames`: its probes and `holds` holds,
// each with its warm-up.
int64_t search_allowance_ns(const RtPlan* plan, uint32_t frames, double holds) {
    const SearchPeriods trial = search_periods(plan, frames);
    const double periods = static_cast<double>(MAX_SHORT_TRIALS * (trial.probe + trial.warmup)) +
                           holds * static_cast<double>(trial.hold + trial.warmup);
    return static_cast<int64_t>(periods * static_cast<double>(grid_period_ns(frames, plan->rate)));
}

// The next search's share: what the searches have left, split evenly
// over those still to run.
void share_search_time(RunContext* run) {
    const int64_t left = run->search_budget_ns - run->search_spent_ns;
    const uint32_t searches = run->searches_left > 0 ? run->searches_left : 1;
    run->search_share_ns = left > 0 ? left / searches : 0;
    run->searches_left = run->searches_left > 0 ? run->searches_left - 1 : 0;
}

void run_config(RunContext* run, PeriodDriver* driver, uint32_t threads, uint32_t frames) {
    const RtPlan* plan = run->plan;
    RtRunResult* result = run->result;
    DriverSetup setup{};
    setup.frames = frames;
    setup.rate = plan->rate;
    setup.threads = threads;
    for (uint32_t t = 0; t < threads; ++t) {
        setup.processors[t] = result->processors[t];
    }
    const SearchPeriods trial = search_periods(plan, frames);
    const uint64_t idle = grid_periods_in(idle_seconds(plan), frames, plan->rate, 1);
    setup.max_periods = std::max({trial.hold, idle, trial.probe});
    // The observer keeps to a core the trial leaves free, when there is one.
    setup.observer_processor =
        threads < result->physical_cores ? result->processors[threads] : NO_PROCESSOR;
    if (!driver_open(driver, &setup)) {
        result->failure = driver->failure.text;
        return;
    }
    result->configs.emplace_back();
    RtConfigResult* config = &result->configs.back();
    *config = RtConfigResult{};
    config->frames = frames;
    config->threads = driver->threads;
    config->period_ns = grid_period_ns(frames, plan->rate);
    config->harness_cpu_ns_per_period = -1;
    for (uint32_t t = 0; t < config->threads && driver->kind == RT_CLOCK_OWN; ++t) {
        config->processors[t] = result->processors[t];
    }
    const bool idle_ran = run_idle(run, driver, config);
    if (idle_ran && !config->sustainable) {
        // No load runs at this size: its searches' time goes to the rest.
        const auto skipped = static_cast<uint32_t>(plan->loads.size());
        run->searches_left = run->searches_left > skipped ? run->searches_left - skipped : 0;
    }
    if (idle_ran && config->sustainable) {
        for (uint32_t index = 0; index < plan->loads.size(); ++index) {
            if (result->stop_signal != 0 || driver->failure.failed) {
                break;
            }
            share_search_time(run);
            run_load(run, driver, index, config);
            const RtTestResult* test = &config->tests[index];
            run->search_spent_ns += static_cast<int64_t>(test->spent_periods) * config->period_ns;
        }
    }
    if (driver->failure.failed) {
        result->failure = driver->failure.text;
    }
    driver_close(driver);
}

// The hypervisor's steal on the run's cores so far, -1 when not counted.
int64_t steal_on(const RtRunSystem* system, const RtRunResult* result) {
    int64_t steal = 0;
    for (uint32_t p = 0; p < result->physical_cores && p < MAX_RT_THREADS; ++p) {
        RtStallCounters counters{};
        system->stall_counters(result->processors[p], -1, &counters);
        if (counters.steal_ns < 0) {
            return -1;
        }
        steal += counters.steal_ns;
    }
    return steal;
}

// The threads of each core choice, each count once ("1" and "all" on a
// single-core machine are one); a server's driver runs its one thread
// whatever is asked.
std::vector<uint32_t> thread_counts(const RtPlan* plan, RtClockKind kind, uint32_t physical) {
    std::vector<uint32_t> counts;
    for (uint32_t choice : plan->core_choices) {
        const uint32_t threads = kind == RT_CLOCK_SERVER ? 1 : threads_of_choice(choice, physical);
        if (std::find(counts.begin(), counts.end(), threads) == counts.end()) {
            counts.push_back(threads);
        }
    }
    return counts;
}

// The plan's measurements (each buffer size and thread count: the idle run, then
// each load), for the progress line.
uint32_t plan_measurements(const RtPlan* plan, const std::vector<uint32_t>& counts) {
    return static_cast<uint32_t>(counts.size() * plan->buffers.size() * (1 + plan->loads.size()));
}
} // namespace

void find_cores(RtCores* cores) {
    *cores = RtCores{};
    cores->count = rt_physical_cores(cores->processors, MAX_RT_THREADS, &cores->step);
}

uint32_t threads_of_choice(uint32_t choice, uint32_t physical) {
    uint32_t threads = choice == ALL_CORES || choice > physical ? physical : choice;
    return threads < MAX_RT_THREADS ? threads : MAX_RT_THREADS;
}

void realtime_run(const RtPlan* plan, PeriodDriver* driver, const RtHost* host,
                  RtRunResult* result) {
    const RtRunSystem* system = host->system != nullptr ? host->system : &RT_SYSTEM;
    result->configs.clear();
    result->stop_signal = 0;
    result->failure.clear();
    result->thread_steps_known = false;
    result->idle_effect = IdleStateEffect{};
    result->elapsed_ns = 0;
    result->memory_limit_bytes =
        plan->memory_gb > 0.0
            ? static_cast<uint64_t>(plan->memory_gb * BYTES_PER_GB)
            : static_cast<uint64_t>(static_cast<double>(system->memory_available()) * MEMORY_SHARE);
    system->lock_memory(&result->memory_lock);
    result->physical_cores = host->cores->count;
    for (uint32_t p = 0; p < MAX_RT_THREADS; ++p) {
        result->processors[p] = host->cores->processors[p];
    }
    result->cores = host->cores->step;
    if (plan->hold_idle_states && plan->clock == RT_CLOCK_OWN) {
        system->hold_idle_states(&result->idle_states);
    } else {
        std::snprintf(result->idle_states.note, sizeof result->idle_states.note,
                      "deep idle states left alone (%s)",
                      plan->hold_idle_states ? "the server's thread is not ours"
                                             : "--allow-idle-states");
    }
    result->steal_before_ns = steal_on(system, result);
    result->steal_after_ns = -1;
    const std::vector<uint32_t> counts = thread_counts(plan, driver->kind, result->physical_cores);
    RunContext run{
        plan, host,        system, result, {}, false, {}, plan_measurements(plan, counts),
        0,    rt_now_ns(), 0,      0,      0,  0};
    const auto per_buffer = static_cast<uint32_t>(counts.size() * plan->loads.size());
    run.searches_left = per_buffer * static_cast<uint32_t>(plan->buffers.size());
    const double holds = search_hold_lengths(run.searches_left);
    for (uint32_t frames : plan->buffers) {
        run.search_budget_ns += search_allowance_ns(plan, frames, holds);
    }
    run.search_budget_ns *= per_buffer;
    if (plan_has_test(plan, RT_ZEMM)) {
        run.mix_ready = mix_data_prepare(&run.mix);
        if (!run.mix_ready) {
            result->failure = "not enough memory for the mix test's tracks";
            return;
        }
    }
    for (uint32_t threads : counts) {
        for (uint32_t frames : plan->buffers) {
            if (stop_requested(&run) || !result->failure.empty()) {
                break;
            }
            run_config(&run, driver, threads, frames);
        }
    }
    if (run.mix_ready) {
        mix_data_free(&run.mix);
    }
    if (result->idle_states.done != 0) {
        system->release_idle_states();
    }
    result->steal_after_ns = steal_on(system, result);
    result->elapsed_ns = rt_now_ns() - run.started_ns;
}

double idle_seconds(const RtPlan* plan) {
    return plan->idle_seconds > plan->confirm_seconds ? plan->idle_seconds : plan->confirm_seconds;
}

SearchPeriods search_periods(const RtPlan* plan, uint32_t frames) {
    return SearchPeriods{
        grid_periods_in(SHORT_TRIAL_SECONDS, frames, plan->rate, SHORT_TRIAL_MIN_PERIODS),
        grid_periods_in(WARMUP_SECONDS, frames, plan->rate, WARMUP_MIN_PERIODS),
        grid_periods_in(plan->confirm_seconds, frames, plan->rate, 1)};
}

double test_speed_change(const RtTestResult* test) {
    double change = test->speed_spread;
    const double before = test->kernel_ns_per_sample;
    const double after = test->kernel_ns_after;
    if (before > 0.0 && after > 0.0) {
        const double kernel = after > before ? after / before : before / after;
        change = kernel > change ? kernel : change;
    }
    return change;
}
