// Our driver of the periods: one thread per core, each pinned and raised to
// real-time priority, all on one period grid of the monotonic clock, the
// streams split evenly between them. clock_driver_trial is the search's
// TrialFunction for it.
#pragma once

#include "engine/realtime/capacity_search.h"
#include "platform/platform_realtime.h"

#include <atomic>
#include <cstdint>

constexpr uint32_t MAX_RT_THREADS = 64;

// Waits up to timeout_ms for a stop request; its signal number, or 0.
using StopWait = int (*)(int64_t timeout_ms);

// Set-up steps of one measuring thread.
struct ThreadSteps {
    RtStep pin;
    RtStep priority;
    RtStep slack;
    RtStep denormals;
    RtStep timer;
};

struct ClockDriver {
    uint32_t threads;
    uint32_t processors[MAX_RT_THREADS]; // each thread's logical processor
    uint32_t frames;
    uint32_t rate;
    uint64_t max_periods;               // longest trial the miss maps hold
    StreamSet* sets[MAX_RT_THREADS];    // nullptr: the idle system
    PeriodStats* stats[MAX_RT_THREADS]; // each thread's, with its miss map
    StopWait wait_for_stop;
    // Left by the last trial:
    int stop_signal;     // the signal that stopped it, 0 when none
    bool threads_failed; // a thread could not be started
    ThreadSteps steps[MAX_RT_THREADS];
    int64_t cpu_ns[MAX_RT_THREADS]; // processor time of each thread's loop
};

// Allocates the per-thread figures; false when memory is short.
bool clock_driver_open(ClockDriver* driver, uint32_t threads, const uint32_t* processors,
                       uint32_t frames, uint32_t rate, uint64_t max_periods, StopWait wait);
void clock_driver_close(ClockDriver* driver);

// Streams of `total` that thread `index` of `threads` takes.
uint32_t thread_share(uint32_t total, uint32_t threads, uint32_t index);

// TrialFunction: runs request->streams streams split over the driver's
// threads (sets[] must hold enough), periods from a common origin a few
// milliseconds ahead, until the periods are done, a thread goes over the
// miss budget, or wait_for_stop reports a stop (then false).
bool clock_driver_trial(void* driver, const TrialRequest* request, TrialOutcome* outcome);
