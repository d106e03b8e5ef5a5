// Our driver of the periods: one thread per core, each pinned and raised to
// real-time priority, all on one period grid of the monotonic clock, the
// streams split evenly between them.
#pragma once

#include "engine/realtime/observer.h"
#include "engine/realtime/period_driver.h"
#include "engine/realtime/period_loop.h"

#include <cstdint>

struct ClockDriver {
    uint32_t processors[MAX_RT_THREADS]; // each thread's logical processor
    uint32_t frames;
    uint32_t rate;
    uint64_t max_periods;               // longest trial the miss maps hold
    PeriodStats* stats[MAX_RT_THREADS]; // each thread's, with its miss map
    ThreadSteps steps[MAX_RT_THREADS];
    int64_t cpu_ns[MAX_RT_THREADS];    // processor time of each thread's loop
    uint32_t capacity[MAX_RT_THREADS]; // streams each thread's set holds
    int32_t flushed[MAX_RT_THREADS];   // after the trial, rt_denormals_flushed on each thread
    Observer* observer;                // nullptr until open
};

// One trial's outcome from its threads' figures: the histograms merged, and
// a period missed when any thread's work ended late in it, for the cause
// the first such thread's record gives (matched with the observer's
// samples, when there is an observer), unknown past the records kept.
// `loaded`: the trial ran streams (not the idle run).
void gather_threads(PeriodStats* const* stats, uint32_t threads, int64_t period_ns,
                    const Observer* observer, bool loaded, TrialOutcome* outcome);

// Makes `driver` run on `backend`, which must outlive it.
void clock_driver_init(PeriodDriver* driver, ClockDriver* backend, StopWait wait);
