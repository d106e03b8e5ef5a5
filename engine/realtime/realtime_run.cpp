#include "engine/realtime/realtime_run.h"

#include "engine/realtime/period_grid.h"
#include "engine/realtime/plugin_cost.h"
#include "platform/platform_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {
// The kernel alone: bursts of rounds spread over some 150 ms, so that one
// stall of the machine cannot spoil them all; the best round counts. A
// figure far above the best this run has seen for the test is taken again.
constexpr uint32_t KERNEL_BURSTS = 5;
constexpr uint32_t KERNEL_REPEATS = 3;
constexpr int64_t KERNEL_ROUND_NS = 2000000;
constexpr int64_t KERNEL_BURST_GAP_NS = 25000000;
constexpr uint32_t KERNEL_ATTEMPTS = 3;
constexpr double KERNEL_SUSPECT_RATIO = 1.5;

struct RunContext {
    const RtPlan* plan;
    const RtHost* host;
    RtRunResult* result;
    MixData mix;
    bool mix_ready;
    double best_kernel_ns[MAX_LOADS]; // 0 until measured
    uint32_t steps;                   // of the whole plan
    uint32_t step;                    // the one running, from 1
    int64_t started_ns;
};

// About how long the rest of the plan takes: the steps so far, or before
// the first ends, what a step is planned to take.
int64_t seconds_left(const RunContext* run) {
    const uint32_t done = run->step - 1;
    const uint32_t left = run->steps - done;
    if (done > 0) {
        return (rt_now_ns() - run->started_ns) / 1000000000 * left / done;
    }
    const double tests = static_cast<double>(run->plan->loads.size());
    const double per_config = run->plan->idle_seconds + tests * (run->plan->confirm_seconds + 3.0);
    return static_cast<int64_t>(per_config / (1.0 + tests) * left);
}

__attribute__((format(printf, 2, 3))) void progress(const RunContext* run, const char* format,
                                                    ...) {
    if (run->host->progress == nullptr) {
        return;
    }
    char text[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[260];
    const int64_t left = seconds_left(run);
    if (left >= 60) {
        std::snprintf(line, sizeof line, "step %u of %u, about %lld min left: %s", run->step,
                      run->steps, static_cast<long long>((left + 30) / 60), text);
    } else {
        std::snprintf(line, sizeof line, "step %u of %u, under a minute left: %s", run->step,
                      run->steps, text);
    }
    run->host->progress(run->host->progress_context, line);
}

bool stop_requested(RunContext* run) {
    int signal_number = run->host->wait_for_stop(0);
    if (signal_number != 0) {
        run->result->stop_signal = signal_number;
    }
    return run->result->stop_signal != 0;
}

void keep_figures(RtFigures* figures, uint32_t streams, const TrialOutcome* outcome) {
    figures->streams = streams;
    figures->periods = outcome->periods;
    figures->missed = outcome->missed;
    figures->processing = outcome->processing;
    figures->lateness = outcome->lateness;
    figures->server = outcome->server;
    figures->misses = outcome->misses;
    figures->mark_count = outcome->mark_count;
    for (uint32_t m = 0; m < outcome->mark_count; ++m) {
        figures->marks[m] = outcome->marks[m];
    }
}

// The system's dropouts among a trial's misses: with streams, every cause
// but their work and the unplaced; with none (`idle`), every miss.
void count_dropouts(RtConfigResult* config, const MissCounts* misses, uint64_t periods, bool idle) {
    MissCounts stalls = *misses;
    // The work's misses are all backed by the counters; unknown ones never.
    const uint64_t work = stalls.by_cause[CAUSE_WORK];
    stalls.confirmed = stalls.confirmed >= work ? stalls.confirmed - work : 0;
    stalls.by_cause[CAUSE_WORK] = 0;
    stalls.by_cause[CAUSE_UNKNOWN] = idle ? stalls.by_cause[CAUSE_UNKNOWN] : 0;
    miss_counts_add(&config->dropouts, &stalls);
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

void keep_steps(RunContext* run, const PeriodDriver* driver) {
    if (!run->result->thread_steps_known && driver->steps.timer.note[0] != '\0') {
        run->result->thread_steps = driver->steps;
        run->result->thread_steps_known = true;
    }
}

// Once, at the smallest buffer size on one thread of our own clock: the
// idle floor again with the idle states let go, then held again.
void measure_idle_effect(RunContext* run, PeriodDriver* driver, RtConfigResult* config,
                         const TrialRequest* request, const TrialOutcome* held) {
    RtRunResult* result = run->result;
    const RtPlan* plan = run->plan;
    const uint32_t smallest = *std::min_element(plan->buffers.begin(), plan->buffers.end());
    if (result->idle_effect.measured || result->idle_states.done == 0 ||
        driver->kind != RT_CLOCK_OWN || config->threads != 1 || config->frames != smallest) {
        return;
    }
    progress(run, "buffer %u, 1 core: idle system again, deep idle states allowed", config->frames);
    auto free = std::make_unique<TrialOutcome>();
    rt_release_idle_states();
    bool finished = driver_trial(driver, request, free.get());
    RtStep again{};
    rt_hold_idle_states(&again);
    if (!finished) {
        result->stop_signal = driver->stop_signal; // a stop here ends the run like any other
        return;
    }
    result->idle_effect.measured = true;
    result->idle_effect.frames = config->frames;
    keep_figures(&result->idle_effect.held, 0, held);
    keep_figures(&result->idle_effect.free, 0, free.get());
}

bool run_idle(RunContext* run, PeriodDriver* driver, RtConfigResult* config) {
    const RtPlan* plan = run->plan;
    uint64_t periods = grid_periods_in(plan->idle_seconds, config->frames, plan->rate, 1);
    // The whole length even when it misses: its misses and lateness are the
    // idle floor the report gives.
    TrialRequest request{0, periods, UINT64_MAX, MissJudge{config->period_ns, 0, 0, 0, false},
                         0, {}};
    run->step += 1;
    TrialOutcome outcome{};
    progress(run, "buffer %u, %u core%s: idle system, %g s", config->frames, config->threads,
             config->threads == 1 ? "" : "s", plan->idle_seconds);
    driver_set_streams(driver, nullptr);
    bool finished = driver_trial(driver, &request, &outcome);
    keep_steps(run, driver);
    keep_figures(&config->idle, 0, &outcome);
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
    count_dropouts(config, &outcome.misses, outcome.periods, true);
    const double limit = plan->allowed_miss_fraction > SYSTEM_MISS_LIMIT
                             ? plan->allowed_miss_fraction
                             : SYSTEM_MISS_LIMIT;
    config->sustainable =
        outcome.periods == periods && outcome.missed <= allowed_misses(outcome.periods, limit);
    return true;
}

// The kernel alone is timed where the streams will run: on the first
// measuring core, at real-time priority, with denormals flushed, so that
// nothing but the machine's own noise can make it look slower than it is.
struct KernelTiming {
    const RtLoad* load;
    uint32_t frames;
    uint32_t rate;
    const MixData* mix;
    PluginHost* plugins;
    uint32_t processor;
    double ns_per_sample;
};

// One burst: the kernel's best rounds, or one instance of the chain's.
double time_burst(const KernelTiming* timing) {
    if (timing->load->kind != RT_PLUGINS) {
        return kernel_ns_per_sample(timing->load->kind, timing->frames, timing->mix, rt_now_ns,
                                    KERNEL_REPEATS, KERNEL_ROUND_NS);
    }
    PluginLoadOrder order = timing->load->order;
    order.frames = timing->frames;
    order.rate = timing->rate;
    PluginCost cost{};
    std::string error;
    return plugin_cost_measure(timing->plugins, &order, rt_now_ns, KERNEL_REPEATS, KERNEL_ROUND_NS,
                               &cost, &error)
               ? cost.ns_per_sample
               : 0.0;
}

uint32_t kernel_timing_thread(void* parameter) {
    auto* timing = static_cast<KernelTiming*>(parameter);
    RtStep step{};
    rt_pin_thread(timing->processor, &step);
    rt_raise_priority(&step);
    rt_flush_denormals(&step);
    RtTimer* timer = rt_timer_open(&step);
    timing->ns_per_sample = 0.0;
    for (uint32_t burst = 0; burst < KERNEL_BURSTS; ++burst) {
        if (burst > 0) {
            rt_sleep_until(timer, rt_now_ns() + KERNEL_BURST_GAP_NS);
        }
        double best = time_burst(timing);
        if (best > 0.0 && (timing->ns_per_sample == 0.0 || best < timing->ns_per_sample)) {
            timing->ns_per_sample = best;
        }
    }
    rt_timer_close(timer);
    rt_drop_priority();
    return 0;
}

double time_kernel(RunContext* run, uint32_t index, uint32_t frames) {
    double best = 0.0;
    double* run_best = &run->best_kernel_ns[index];
    for (uint32_t attempt = 0; attempt < KERNEL_ATTEMPTS; ++attempt) {
        KernelTiming timing{
            &run->plan->loads[index],   frames, run->plan->rate, &run->mix, run->host->plugins,
            run->result->processors[0], 0.0};
        PlatformThread* thread = platform_thread_start_with(kernel_timing_thread, &timing);
        if (thread == nullptr) {
            break;
        }
        platform_thread_wait(thread);
        platform_thread_close(thread);
        if (timing.ns_per_sample > 0.0 && (best == 0.0 || timing.ns_per_sample < best)) {
            best = timing.ns_per_sample;
        }
        if (best > 0.0 && (*run_best == 0.0 || best <= *run_best * KERNEL_SUSPECT_RATIO)) {
            break;
        }
    }
    if (best > 0.0 && (*run_best == 0.0 || best < *run_best)) {
        *run_best = best;
    }
    return best;
}

// The kernel-alone bound and, within the memory cap, the sets of every
// thread. False when even one stream per thread cannot be allocated.
bool prepare_test(RunContext* run, uint32_t index, const RtConfigResult* config,
                  RtTestResult* result, StreamSet sets[MAX_RT_THREADS]) {
    const uint32_t threads = config->threads;
    const RtLoad* load = &run->plan->loads[index];
    const RtTestKind test = load->kind;
    result->kernel_ns_per_sample = time_kernel(run, index, config->frames);
    if (result->kernel_ns_per_sample <= 0.0) {
        return false;
    }
    double per_thread = std::floor(1e9 / (run->plan->rate * result->kernel_ns_per_sample));
    result->kernel_bound = static_cast<uint32_t>(per_thread) * threads;
    // The ceiling lies well above the bound: one timing of the kernel in a
    // slow spell must not cap the search.
    uint64_t capacity = static_cast<uint64_t>(std::floor(per_thread * CEILING_OVER_BOUND));
    if (run->plan->fixed_streams > 0) {
        capacity = thread_share(run->plan->fixed_streams, threads, 0); // the largest share
    }
    uint64_t bytes = stream_bytes(test, config->frames) * threads;
    if (run->plan->fixed_streams > 0 && bytes > 0 && capacity * bytes > STREAM_MEMORY_CAP) {
        return false; // never fewer streams than asked for
    }
    if (bytes > 0 && capacity * bytes > STREAM_MEMORY_CAP) {
        capacity = STREAM_MEMORY_CAP / bytes;
        result->memory_capped = true;
    }
    if (test == RT_PLUGINS && capacity > MAX_PLUGIN_INSTANCES) {
        capacity = MAX_PLUGIN_INSTANCES;
        result->memory_capped = true;
    }
    for (;;) {
        bool complete = capacity > 0;
        for (uint32_t t = 0; t < threads && complete; ++t) {
            std::string error;
            complete = test == RT_PLUGINS
                           ? stream_set_prepare_plugins(&sets[t], run->host->plugins, &load->order,
                                                        config->frames, run->plan->rate,
                                                        static_cast<uint32_t>(capacity), &error)
                           : stream_set_prepare(&sets[t], test, config->frames,
                                                static_cast<uint32_t>(capacity), &run->mix);
        }
        if (complete) {
            result->search_bound = static_cast<uint32_t>(capacity) * threads;
            return true;
        }
        for (uint32_t t = 0; t < threads; ++t) {
            stream_set_free(&sets[t]);
        }
        if (capacity <= 1 || run->plan->fixed_streams > 0) {
            return false;
        }
        capacity /= 2;
        result->memory_capped = true;
    }
}

// A chain's workers and log, from each thread's load, before they close.
void keep_plugin_facts(const StreamSet sets[MAX_RT_THREADS], uint32_t threads,
                       RtTestResult* result) {
    std::string log;
    for (uint32_t t = 0; t < threads; ++t) {
        if (sets[t].plugins == nullptr) {
            continue;
        }
        const PluginWorkerStats worker = plugin_load_worker(sets[t].plugins);
        result->worker.jobs += worker.jobs;
        result->worker.total_ns += worker.total_ns;
        result->worker.longest_ns = worker.longest_ns > result->worker.longest_ns
                                        ? worker.longest_ns
                                        : result->worker.longest_ns;
        result->worker.refused += worker.refused;
        result->worker.responses += worker.responses;
        log += plugin_load_log(sets[t].plugins);
    }
    std::snprintf(result->log, sizeof result->log, "%s", log.c_str());
}

struct ProgressTrial {
    RunContext* run;
    PeriodDriver* driver;
    const char* test_name;
    uint32_t frames;
    uint32_t trials;
    uint32_t denormals_lost; // trials after which a thread had FTZ or DAZ cleared
};

bool trial_with_progress(void* context, const TrialRequest* request, TrialOutcome* outcome) {
    auto* trial = static_cast<ProgressTrial*>(context);
    trial->trials += 1;
    const uint32_t threads = trial->driver->threads;
    progress(trial->run, "buffer %u, %u core%s: %s trial %u, %u streams%s", trial->frames, threads,
             threads == 1 ? "" : "s", trial->test_name, trial->trials, request->streams,
             request->checkpoint_count > 0 ? " (confirm)" : "");
    bool finished = driver_trial(trial->driver, request, outcome);
    keep_steps(trial->run, trial->driver);
    trial->denormals_lost += outcome->denormals_lost ? 1 : 0;
    return finished;
}

// A fixed count for the confirm length, whatever it misses: does this load
// fit at this buffer size?
void run_fixed(TrialFunction trial, void* context, const SearchPlan* plan, uint32_t streams,
               SearchResult* found) {
    *found = SearchResult{};
    TrialRequest request{streams, plan->confirm_periods, UINT64_MAX, first_judge(plan, streams), 0,
                         {}};
    request.checkpoint_count = headroom_checkpoints(streams, request.checkpoints);
    found->trials = 1;
    found->confirm_trials = 1;
    found->confirm_streams = streams;
    if (!trial(context, &request, &found->confirm)) {
        found->state = SEARCH_INTERRUPTED;
    } else {
        found->state = trial_held(&request, &found->confirm, plan->allowed_miss_fraction)
                           ? SEARCH_CONFIRMED
                           : SEARCH_NOT_CONFIRMED;
    }
    found->sustained = streams;
    found->misses = found->confirm.misses;
    found->periods = found->confirm.periods;
}

void run_test(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config) {
    RtTestResult* result = &config->tests[index];
    const char* name = run->plan->loads[index].name.c_str();
    StreamSet sets[MAX_RT_THREADS] = {};
    run->step += 1;
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
    search.short_periods =
        grid_periods_in(SHORT_TRIAL_SECONDS, config->frames, plan->rate, SHORT_TRIAL_MIN_PERIODS);
    search.confirm_periods = grid_periods_in(plan->confirm_seconds, config->frames, plan->rate, 1);
    search.allowed_miss_fraction = plan->allowed_miss_fraction;
    search.period_ns = config->period_ns;
    search.threads = config->threads;
    search.fixed_ns = static_cast<double>(histogram_percentile(&config->idle.processing, P50));
    search.per_stream_ns = result->kernel_ns_per_sample * config->frames;
    search.usual_late_ns = histogram_percentile(&config->idle.lateness, P50);
    search.throttle_share = rt_throttle_share();
    search.max_trials = MAX_SEARCH_TRIALS;
    search.max_confirms = MAX_CONFIRM_TRIALS;
    ProgressTrial trial{run, driver, name, config->frames, 0, 0};
    auto found_memory = std::make_unique<SearchResult>();
    SearchResult& found = *found_memory;
    if (stop_requested(run)) {
        found.state = SEARCH_INTERRUPTED;
    } else if (plan->fixed_streams > 0) {
        run_fixed(trial_with_progress, &trial, &search, plan->fixed_streams, &found);
    } else {
        search_capacity(trial_with_progress, &trial, &search, &found);
    }
    driver_set_streams(driver, nullptr);
    keep_plugin_facts(sets, config->threads, result);
    for (uint32_t t = 0; t < config->threads; ++t) {
        stream_set_free(&sets[t]);
    }
    // The kernel alone once more: a machine that slowed down or sped up
    // during the search (a neighbour on the host) shows here.
    if (found.state != SEARCH_INTERRUPTED) {
        result->kernel_ns_after = time_kernel(run, index, config->frames);
    }
    result->trials = found.trials;
    result->denormals_lost = trial.denormals_lost;
    result->sustained = found.sustained;
    result->headroom = found.headroom;
    for (uint32_t t = 0; t < config->threads; ++t) {
        result->per_core[t] = thread_share(found.sustained, config->threads, t);
        result->headroom_per_core[t] = thread_share(found.headroom, config->threads, t);
    }
    keep_figures(&result->confirm, found.confirm_streams, &found.confirm);
    result->misses = found.misses;
    result->periods = found.periods;
    result->fixed_ns = found.fixed_ns;
    result->per_stream_ns = found.per_stream_ns;
    result->tail_ratio = found.tail_ratio;
    result->search_end = found.end;
    result->stream_ns_offline = result->kernel_ns_per_sample * config->frames;
    const uint32_t busiest = thread_share(found.confirm_streams, config->threads, 0);
    const auto median = static_cast<double>(histogram_percentile(&found.confirm.processing, P50));
    result->stream_ns_in_confirm =
        busiest > 0 && median > found.fixed_ns ? (median - found.fixed_ns) / busiest : 0.0;
    result->resolution = found.resolution;
    result->failed_at = found.failed_at;
    result->speed_spread = found.speed_spread;
    count_dropouts(config, &found.misses, found.periods, false);
    if (plan->fixed_streams > 0 && found.state != SEARCH_INTERRUPTED) {
        result->state = found.state == SEARCH_CONFIRMED ? RT_FITS : RT_DOES_NOT_FIT;
    } else if (found.state == SEARCH_INTERRUPTED && driver->failure.failed) {
        result->state = RT_FAILED;
    } else if (found.state == SEARCH_INTERRUPTED) {
        result->state = RT_INTERRUPTED;
        if (driver->stop_signal != 0) {
            run->result->stop_signal = driver->stop_signal;
        }
    } else {
        result->state = found.state == SEARCH_CONFIRMED ? RT_DONE : RT_NOT_CONFIRMED;
    }
}

// What a child that ran one load's trials hands back: the buffer size's
// figures (its dropouts included) and what the run keeps across loads.
struct ApartResult {
    bool finished; // the child got to the end and wrote the rest
    RtConfigResult config;
    double best_kernel_ns;
    ThreadSteps thread_steps;
    bool thread_steps_known;
    int stop_signal;
    DriverFailure failure;
    uint32_t step;
};

struct Apart {
    RunContext* run;
    PeriodDriver* driver;
    uint32_t index;
    RtConfigResult* config;
    ApartResult* shared;
};

uint32_t run_test_apart(void* parameter) {
    auto* apart = static_cast<Apart*>(parameter);
    RunContext* run = apart->run;
    RtStep lock{};
    rt_lock_memory(&lock); // a forked child does not inherit the parent's lock
    run_test(run, apart->driver, apart->index, apart->config);
    ApartResult* shared = apart->shared;
    shared->config = *apart->config;
    shared->best_kernel_ns = run->best_kernel_ns[apart->index];
    shared->thread_steps = run->result->thread_steps;
    shared->thread_steps_known = run->result->thread_steps_known;
    shared->stop_signal = run->result->stop_signal;
    shared->failure = apart->driver->failure;
    shared->step = run->step;
    shared->finished = true;
    return 0;
}

// A chain of plugins on our own clock runs its trials in a child process:
// a plugin that crashes in the three-hundredth period of a trial ends that
// load alone, and the run goes on with the others. (Inside an audio server
// the server's thread is the parent's, so there the load runs in place.)
void run_load(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config) {
    if (run->plan->loads[index].kind != RT_PLUGINS || driver->kind != RT_CLOCK_OWN) {
        run_test(run, driver, index, config);
        return;
    }
    auto* shared = static_cast<ApartResult*>(platform_shared_alloc(sizeof(ApartResult)));
    if (shared == nullptr) {
        config->tests[index].state = RT_NO_MEMORY;
        return;
    }
    Apart apart{run, driver, index, config, shared};
    int stop_signal = 0;
    const int ended =
        platform_run_apart(run_test_apart, &apart, run->host->wait_for_stop, &stop_signal);
    if (ended == 0 && shared->finished) {
        *config = shared->config;
        run->best_kernel_ns[index] = shared->best_kernel_ns;
        if (!run->result->thread_steps_known && shared->thread_steps_known) {
            run->result->thread_steps = shared->thread_steps;
            run->result->thread_steps_known = true;
        }
        run->result->stop_signal = shared->stop_signal != 0 ? shared->stop_signal : stop_signal;
        driver->failure = shared->failure;
        run->step = shared->step;
    } else {
        RtTestResult* result = &config->tests[index];
        result->state = RT_FAILED;
        result->crash_signal = ended > 0 ? ended : -1; // -1: it ended by itself, early
        run->step += 1;
        run->result->stop_signal = stop_signal;
    }
    platform_shared_free(shared, sizeof(ApartResult));
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
    setup.max_periods = grid_periods_in(plan->confirm_seconds, frames, plan->rate, 1);
    uint64_t idle = grid_periods_in(plan->idle_seconds, frames, plan->rate, 1);
    uint64_t short_periods =
        grid_periods_in(SHORT_TRIAL_SECONDS, frames, plan->rate, SHORT_TRIAL_MIN_PERIODS);
    setup.max_periods = setup.max_periods > idle ? setup.max_periods : idle;
    setup.max_periods = setup.max_periods > short_periods ? setup.max_periods : short_periods;
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
    if (run_idle(run, driver, config) && config->sustainable) {
        for (uint32_t index = 0; index < plan->loads.size(); ++index) {
            if (result->stop_signal != 0 || driver->failure.failed) {
                break;
            }
            run_load(run, driver, index, config);
        }
    }
    if (driver->failure.failed) {
        result->failure = driver->failure.text;
    }
    driver_close(driver);
}
} // namespace

namespace {
// The hypervisor's steal on the run's cores so far, -1 when not counted.
int64_t steal_on(const RtRunResult* result) {
    int64_t steal = 0;
    for (uint32_t p = 0; p < result->physical_cores && p < MAX_RT_THREADS; ++p) {
        RtStallCounters counters{};
        rt_stall_counters(result->processors[p], -1, &counters);
        if (counters.steal_ns < 0) {
            return -1;
        }
        steal += counters.steal_ns;
    }
    return steal;
}
} // namespace

uint32_t plan_steps(const RtPlan* plan, uint32_t physical_cores) {
    std::vector<uint32_t> counts;
    for (uint32_t choice : plan->core_choices) {
        uint32_t threads =
            plan->clock == RT_CLOCK_SERVER ? 1 : threads_of_choice(choice, physical_cores);
        bool seen = false;
        for (uint32_t count : counts) {
            seen = seen || count == threads;
        }
        if (!seen) {
            counts.push_back(threads);
        }
    }
    return static_cast<uint32_t>(counts.size() * plan->buffers.size() * (1 + plan->loads.size()));
}

uint32_t threads_of_choice(uint32_t choice, uint32_t physical) {
    uint32_t threads = choice == ALL_CORES || choice > physical ? physical : choice;
    return threads < MAX_RT_THREADS ? threads : MAX_RT_THREADS;
}

void realtime_run(const RtPlan* plan, PeriodDriver* driver, const RtHost* host,
                  RtRunResult* result) {
    result->configs.clear();
    result->stop_signal = 0;
    result->failure.clear();
    result->thread_steps_known = false;
    result->idle_effect = IdleStateEffect{};
    result->elapsed_ns = 0;
    rt_lock_memory(&result->memory_lock);
    result->physical_cores = rt_physical_cores(result->processors, MAX_RT_THREADS, &result->cores);
    if (plan->hold_idle_states && plan->clock == RT_CLOCK_OWN) {
        rt_hold_idle_states(&result->idle_states);
    } else {
        std::snprintf(result->idle_states.note, sizeof result->idle_states.note,
                      "deep idle states left alone (%s)",
                      plan->hold_idle_states ? "the server's thread is not ours"
                                             : "--allow-idle-states");
    }
    result->steal_before_ns = steal_on(result);
    result->steal_after_ns = -1;
    RunContext run{
        plan, host,       result, {}, false, {}, plan_steps(plan, result->physical_cores),
        0,    rt_now_ns()};
    if (plan_has_test(plan, RT_ZEMM)) {
        run.mix_ready = mix_data_prepare(&run.mix);
        if (!run.mix_ready) {
            result->failure = "not enough memory for the mix test's tracks";
            return;
        }
    }
    std::vector<uint32_t> done_threads;
    for (uint32_t choice : plan->core_choices) {
        // A server's driver runs its one thread whatever is asked.
        uint32_t threads =
            driver->kind == RT_CLOCK_SERVER ? 1 : threads_of_choice(choice, result->physical_cores);
        bool repeated = false;
        for (uint32_t done : done_threads) {
            repeated = repeated || done == threads;
        }
        if (repeated) {
            continue; // "1" and "all" on a single-core machine
        }
        done_threads.push_back(threads);
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
        rt_release_idle_states();
    }
    result->steal_after_ns = steal_on(result);
    result->elapsed_ns = rt_now_ns() - run.started_ns;
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
