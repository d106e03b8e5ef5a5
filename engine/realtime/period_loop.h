// The real-time mode's periods, in two parts kept apart on purpose:
//
//  (a) the work of one period (period_work, period_account): process k
//      streams of B samples from a StreamSet, read the clock, and decide
//      whether the period missed its deadline. It knows nothing of what
//      woke it.
//  (b) what drives the periods (run_period_loop): our own loop that sleeps
//      until each period's start on an absolute clock, on the integer grid,
//      never skipping a late period, as an audio device keeps its cadence
//      and under-runs.
//
// Another driver, such as an audio server's process callback, calls (a)
// once per callback with the callback's own period start and deadline, and
// runs whole trials for the capacity search through a TrialFunction of its
// own (capacity_search.h); nothing else here changes.
#pragma once

#include "engine/realtime/histogram.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/stream_set.h"

#include <atomic>
#include <cstdint>

// The clock periods are timed and slept on. The real one reads the
// monotonic clock and sleeps until an absolute time; tests pass a fake.
struct RtClock {
    int64_t (*now_ns)(void* context);
    void (*sleep_until_ns)(void* context, int64_t when_ns);
    void* context;
};

constexpr uint32_t MAX_CHECKPOINTS = 16;

// One thread's share of a period: streams [0, streams) of its set (none
// when set is nullptr: the idle system). At each checkpoint (a stream
// count, ascending, at most `streams`) the clock is read, so that one run
// also tells how long the first that-many streams took.
struct PeriodJob {
    StreamSet* set;
    uint32_t streams;
    uint32_t checkpoint_count;
    uint32_t checkpoints[MAX_CHECKPOINTS];
};

struct PeriodStats {
    Histogram lateness;   // wake-up time minus the period's start
    Histogram processing; // end of the work minus the wake-up time
    uint64_t periods;
    uint64_t missed;
    int64_t worst_checkpoint_ns[MAX_CHECKPOINTS];     // from the wake-up
    int64_t worst_checkpoint_end_ns[MAX_CHECKPOINTS]; // from the period's start
    uint64_t* miss_map;                               // optional: bit n set when period n missed
    uint64_t miss_map_periods;
};

// Empties the figures; keeps the miss map, cleared.
void period_stats_reset(PeriodStats* stats);

// (a) Processes the job's streams once, in the period that started at
// `start_ns` and woke at `woke_ns`; records the checkpoints' times into
// stats; returns the clock read after the work.
int64_t period_work(const PeriodJob* job, const RtClock* clock, int64_t start_ns, int64_t woke_ns,
                    PeriodStats* stats);

// (a) Records period `index`: its lateness and processing time, and a miss
// when the work ended after `deadline_ns`. Returns true on a miss.
bool period_account(PeriodStats* stats, uint64_t index, int64_t start_ns, int64_t deadline_ns,
                    int64_t woke_ns, int64_t done_ns);

// What a driven run is to do.
struct LoopPlan {
    PeriodGrid grid;
    uint64_t periods;     // periods 0 .. periods - 1
    uint64_t miss_budget; // once this thread has missed more, it raises halt
    // Checked once per period; the loop stops when it is not 0. A thread
    // that goes over its miss budget stores HALT_MISSED into it, so that
    // every thread of the trial stops.
    std::atomic<int32_t>* halt;
};

constexpr int32_t HALT_NONE = 0;
constexpr int32_t HALT_MISSED = 1;
constexpr int32_t HALT_STOP = 2; // a stop request from outside

// (b) Our driver: for each period, sleeps until its start on the grid, then
// does (a). Returns the periods run.
uint64_t run_period_loop(const RtClock* clock, const LoopPlan* plan, const PeriodJob* job,
                         PeriodStats* stats);
