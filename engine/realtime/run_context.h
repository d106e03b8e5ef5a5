// What the parts of a real-time run share: the run's own context, the
// system calls it makes outside the periods (behind a table, so that a
// scripted system can stand in for them), and the measurements its
// progress line counts: each idle run and each load's search.
// Each part lives in a file of its own:
//   run_progress.cpp  the progress line and the figures kept of a trial
//   idle_run.cpp      the idle system at each buffer size
//   kernel_timing.cpp the kernel alone, or one instance of a chain, offline
//   load_streams.cpp  a load's stream sets, within the memory cap
//   load_search.cpp   a load's search or fixed count, and its result
//   load_child.cpp    a chain of plugins' trials in a child process
//   realtime_run.cpp  the plan: each core count and buffer size in turn
#pragma once

#include "engine/realtime/plugin_cost.h"
#include "engine/realtime/realtime_run.h"

#include <cstdint>

struct RunContext {
    const RtPlan* plan;
    const RtHost* host;
    const RtRunSystem* system;
    RtRunResult* result;
    MixData mix;
    bool mix_ready;
    double best_kernel_ns[MAX_LOADS]; // 0 until measured
    uint32_t measurements;            // of the whole plan
    uint32_t measurement;             // the one running, from 1
    int64_t started_ns;
    // The searches' time (search_hold_lengths): planned, spent so far,
    // the searches still to run, and the share of the one about to run.
    int64_t search_budget_ns;
    int64_t search_spent_ns;
    uint32_t searches_left;
    int64_t search_share_ns;
};

__attribute__((format(printf, 2, 3))) void progress(const RunContext* run, const char* format, ...);
bool stop_requested(RunContext* run);
void keep_figures(RtFigures* figures, uint32_t streams, const TrialOutcome* outcome);
void keep_steps(RunContext* run, const PeriodDriver* driver);

// The idle system at the config's buffer size; false when stopped.
bool run_idle(RunContext* run, PeriodDriver* driver, RtConfigResult* config);

// The best time a sample of load `index` at `frames` (0: not measured);
// for a chain of plugins, how its best timing settled into `settle` when
// given.
double time_kernel(RunContext* run, uint32_t index, uint32_t frames, PluginCost* settle);

// The kernel-alone bound and, within the memory cap, the sets of every
// thread. False when even one stream per thread cannot be allocated.
bool prepare_test(RunContext* run, uint32_t index, const RtConfigResult* config,
                  RtTestResult* result, StreamSet sets[MAX_RT_THREADS]);
// Instances a thread prepares in the next batch towards `needed`: at least
// twice those so far, within the ceiling.
uint32_t next_prepared(uint32_t prepared, uint32_t needed, uint32_t ceiling);
// Reopens a chain's sets with enough instances for `needed` a thread, and
// leaves the count of all threads' in `prepared`; false (with as many as
// fit, 0 when none would open again) when the memory limit allows fewer.
// Other loads have all theirs already.
bool grow_plugin_sets(RunContext* run, uint32_t index, const RtConfigResult* config,
                      RtTestResult* result, StreamSet sets[MAX_RT_THREADS], uint32_t needed,
                      uint32_t* prepared);
// A chain's workers and log, from each thread's load, before they close.
void keep_plugin_facts(const StreamSet sets[MAX_RT_THREADS], uint32_t threads,
                       RtTestResult* result);

// Searches load `index` (or holds the fixed count) on `driver`.
void run_test(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config);
// The same, in a child process for a chain of plugins on our own clock.
void run_load(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config);
