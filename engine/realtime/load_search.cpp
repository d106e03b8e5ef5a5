#include "engine/realtime/run_context.h"

#include "engine/realtime/period_grid.h"
#include "engine/realtime/plugin_cost.h"

#include <algorithm>
#include <memory>

namespace {
struct ProgressTrial {
    RunContext* run;
    PeriodDriver* driver;
    const char* test_name;
    uint32_t frames;
    uint32_t trials;
    uint32_t denormals_lost; // trials after which a thread had FTZ or DAZ cleared
    StreamSet* sets;         // each thread's
    uint32_t index;
    const RtConfigResult* config;
    RtTestResult* result;
};

// In a child, a trial may take its own length and a margin, and its
// instances' restart as long as opening them.
void name_trial_stage(const ProgressTrial* trial, const TrialRequest* request) {
    const uint64_t periods = request->warmup_periods + request->periods;
    const int64_t length_ms = static_cast<int64_t>(periods) *
                              grid_period_ns(trial->frames, trial->run->plan->rate) / 1000000;
    platform_child_stage("trial", STAGE_TRIAL_MARGIN_MS + length_ms +
                                      stage_allowance_ms(STAGE_OPEN_MS, request->streams));
}

bool trial_with_progress(void* context, const TrialRequest* request, TrialOutcome* outcome) {
    auto* trial = static_cast<ProgressTrial*>(context);
    const uint32_t threads = trial->driver->threads;
    const uint32_t needed = thread_share(request->streams, threads, 0);
    if (needed > trial->sets[0].capacity) {
        progress(trial->run, "buffer %u, %u core%s: %s, preparing instances for %u streams",
                 trial->frames, threads, threads == 1 ? "" : "s", trial->test_name,
                 request->streams);
    }
    uint32_t prepared = 0;
    if (!grow_plugin_sets(trial->run, trial->index, trial->config, trial->result, trial->sets,
                          needed, &prepared)) {
        outcome->refused = true;
        outcome->prepared = prepared;
        return true;
    }
    trial->trials += 1;
    name_trial_stage(trial, request);
    progress(trial->run, "buffer %u, %u core%s: %s trial %u, %u streams%s", trial->frames, threads,
             threads == 1 ? "" : "s", trial->test_name, trial->trials, request->streams,
             request->checkpoint_count > 0 ? " (hold)" : "");
    // Every trial starts its streams together, as a session just loaded:
    // instances in phase, none carrying on from an earlier trial.
    for (uint32_t t = 0; t < threads; ++t) {
        stream_set_restart(&trial->sets[t], thread_share(request->streams, threads, t));
    }
    bool finished = driver_trial(trial->driver, request, outcome);
    keep_steps(trial->run, trial->driver);
    trial->denormals_lost += outcome->denormals_lost ? 1 : 0;
    return finished;
}
} // namespace

void run_test(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config) {
    RtTestResult* result = &config->tests[index];
    const char* name = run->plan->loads[index].name.c_str();
    StreamSet sets[MAX_RT_THREADS] = {};
    run->measurement += 1;
    progress(run, "buffer %u, %u core%s: %s, preparing the streams", config->frames,
             config->threads, config->threads == 1 ? "" : "s", name);
    if (run->plan->loads[index].failed) {
        result->state = RT_FAILED; // validation refused it: no trial runs it
        return;
    }
    if (!prepare_test(run, index, config, result, sets)) {
        result->state = RT_NO_MEMORY;
        return;
    }
    driver_set_streams(driver, sets);
    const RtPlan* plan = run->plan;
    SearchPlan search{};
    search.upper_bound = result->search_bound;
    const SearchPeriods periods = search_periods(plan, config->frames);
    search.short_periods = periods.probe;
    search.hold_periods = periods.hold;
    search.warmup_periods = periods.warmup;
    search.idle = IdleFloor{config->idle.periods, config->idle.missed};
    search.allowed_miss_fraction = plan->allowed_miss_fraction;
    search.period_ns = config->period_ns;
    search.threads = config->threads;
    search.fixed_ns = static_cast<double>(histogram_percentile(&config->idle.processing, P50));
    search.per_stream_ns = result->kernel_ns_per_sample * config->frames;
    search.usual_late_ns = histogram_percentile(&config->idle.lateness, P50);
    search.throttle_share = run->system->throttle_share();
    search.max_trials = MAX_SEARCH_TRIALS;
    search.max_holds = MAX_HOLDS;
    search.max_played = MAX_PLAYED_HOLDS;
    search.period_budget =
        std::max<uint64_t>(1, static_cast<uint64_t>(run->search_share_ns / config->period_ns));
    ProgressTrial trial{run, driver, name, config->frames, 0, 0, sets, index, config, result};
    auto found_memory = std::make_unique<SearchResult>();
    SearchResult& found = *found_memory;
    if (stop_requested(run)) {
        found.state = SEARCH_INTERRUPTED;
    } else if (plan->fixed_streams > 0) {
        hold_fixed(trial_with_progress, &trial, &search, plan->fixed_streams, &found);
    } else {
        search_capacity(trial_with_progress, &trial, &search, &found);
    }
    driver_set_streams(driver, nullptr);
    platform_child_stage("close", stage_allowance_ms(STAGE_CLOSE_MS, result->search_bound));
    keep_plugin_facts(sets, config->threads, result);
    for (uint32_t t = 0; t < config->threads; ++t) {
        stream_set_free(&sets[t]);
    }
    // The kernel alone once more: a machine that slowed down or sped up
    // during the search (a neighbour on the host) shows here.
    if (found.state != SEARCH_INTERRUPTED) {
        result->kernel_ns_after = time_kernel(run, index, config->frames, nullptr);
    }
    result->trials = found.trials;
    result->denormals_lost = trial.denormals_lost;
    result->plays = found.plays;
    result->headroom = found.headroom;
    for (uint32_t t = 0; t < config->threads; ++t) {
        result->per_core[t] = thread_share(found.plays, config->threads, t);
        result->headroom_per_core[t] = thread_share(found.headroom, config->threads, t);
    }
    keep_figures(&result->hold, found.hold_streams, &found.hold);
    result->terms = HoldTerms{plan->confirm_seconds, search.warmup_periods, found.allowance,
                              search.idle.periods, search.idle.missed};
    result->shape = found.hold.shape;
    result->holds = found.holds;
    result->median_fits = found.median_fits;
    result->misses = found.misses;
    result->periods = found.periods;
    result->spent_periods = found.spent_periods;
    result->fixed_ns = found.fixed_ns;
    result->per_stream_ns = found.per_stream_ns;
    result->tail_ratio = found.tail_ratio;
    result->search_end = found.end;
    result->stream_ns_offline = result->kernel_ns_per_sample * config->frames;
    const uint32_t busiest = thread_share(found.hold_streams, config->threads, 0);
    const auto median = static_cast<double>(found.hold.shape.spread.p50_ns);
    result->stream_ns_in_confirm =
        busiest > 0 && median > found.fixed_ns ? (median - found.fixed_ns) / busiest : 0.0;
    result->resolution = found.resolution;
    result->failed_at = found.failed_at;
    if (found.failed_at > 0) {
        keep_figures(&result->failed_hold, found.failed_at, &found.failed);
        result->failed_shape = found.failed.shape;
    }
    result->memory_refused_at = found.refused_at;
    result->speed_spread = found.speed_spread;
    if (plan->fixed_streams > 0 && found.state != SEARCH_INTERRUPTED) {
        result->state = found.state == SEARCH_PLAYED ? RT_PLAYS : RT_DOES_NOT_PLAY;
    } else if (found.state == SEARCH_INTERRUPTED && driver->failure.failed) {
        result->state = RT_FAILED;
    } else if (found.state == SEARCH_INTERRUPTED) {
        result->state = RT_INTERRUPTED;
        if (driver->stop_signal != 0) {
            run->result->stop_signal = driver->stop_signal;
        }
    } else {
        result->state = found.state == SEARCH_PLAYED ? RT_DONE : RT_NONE_PLAYS;
    }
}
