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
#include "engine/realtime/hold_shape.h"
#include "engine/realtime/miss_cause.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/stream_set.h"
#include "platform/platform_realtime.h"

#include <atomic>
#include <cstdint>

// The clock periods are timed and slept on. The real one reads the
// monotonic clock and sleeps until an absolute time; tests pass a fake.
// thread_counters may be nullptr: nothing counted.
struct RtClock {
    int64_t (*now_ns)(void* context);
    void (*sleep_until_ns)(void* context, int64_t when_ns);
    void* context;
    void (*thread_counters)(void* context, RtThreadCounters* counters); // read every period
    void* counter_context;
};

// The real clock, and the calling thread's own counters.
int64_t real_now_ns(void* context);
void real_thread_counters(void* context, RtThreadCounters* counters);

// What the loop needs to give each missed period its first word on the
// cause, the moment it missed. Every miss counts against a hold, whatever
// its cause (hold_rule.h); the cause explains it.
struct MissJudge {
    int64_t period_ns;
    int64_t usual_late_ns; // the usual wake-up lateness: what a period leaves for the work
    int64_t expected_ns;   // the work the search expects of this thread a period; 0: none
    bool near_throttle;    // the load nears the kernel's real-time share
};

enum MissVerdict : uint8_t {
    VERDICT_SYSTEM = 0,    // the work would have fitted: the system's stall
    VERDICT_WORK = 1,      // the thread's own processor time overran what the period left
    VERDICT_UNKNOWN = 2,   // no processor time to tell by
    VERDICT_THROTTLED = 3, // off the core for long, switched out, at a load near the share
};

// Off the core for this long in one period, switched out, at a load near
// the kernel's real-time share: the throttle, which lets real-time threads
// run only part of each second (its gaps are milliseconds long).
constexpr int64_t THROTTLE_GAP_NS = 500000;

MissVerdict judge_miss(const MissJudge* judge, int64_t processing_ns, int64_t cpu_ns,
                       int64_t involuntary);

// What is kept of a missed period until the trial ends and it is classified
// (miss_cause.h): its times, the thread's counters, the loop's verdict, and
// the core's counters over the observer's samples around it.
struct MissRecord {
    uint64_t index;
    int64_t start_ns;      // the period's start on the grid
    int64_t lateness_ns;   // wake-up minus the period's start
    int64_t processing_ns; // the work's wall time
    int64_t cpu_ns;        // the thread's processor time over the period; -1 unknown
    int64_t involuntary;   // involuntary context switches in it; -1 unknown
    MissVerdict verdict;   // the loop's, at the miss
    RtStallCounters stall; // between the edges; -1 unknown
    int64_t edge_from_ns;  // the observer's samples the stall counters span
    int64_t edge_to_ns;    // (0 and 0: none near enough)
    bool chained;          // it started late because the period before it overran
    MissCause cause;
    PreemptSource source;
    bool confirmed; // counters, not only the timing, back the cause
};
constexpr uint32_t MAX_MISS_RECORDS = 4096;

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
    Histogram lateness;     // wake-up time minus the period's start
    Histogram processing;   // end of the work minus the wake-up time
    SpreadHistogram spread; // processing over the judge's expected_ns
    uint64_t periods;
    uint64_t missed;
    int64_t worst_checkpoint_ns[MAX_CHECKPOINTS]; // from the wake-up
    uint64_t* miss_map;                           // optional: bit n set when period n missed
    uint64_t miss_map_periods;
    MissRecord* records; // optional: the first MAX_MISS_RECORDS misses
    uint32_t record_count;
    PeriodSample* samples; // optional: every period, up to sample_capacity
    uint64_t sample_capacity;
    // The second slowest work of a warm-up whose end ran past the first
    // counted period's start (leaving it late): one slow period alone, a
    // cold first one or a pause of the host's, does not speak for the
    // count. 0 when the warm-up ended in time.
    int64_t warmup_overrun_ns;
    // Carried from one period to the next:
    RtThreadCounters last_counters; // at the last period's end
    int64_t last_done_ns;
};

// Empties the figures; keeps the miss map, cleared, and the samples' memory.
void period_stats_reset(PeriodStats* stats);

// (a) Processes the job's streams once, in a period that woke at
// `woke_ns`; records the checkpoints' times into stats; returns the clock
// read after the work.
int64_t period_work(const PeriodJob* job, const RtClock* clock, int64_t woke_ns,
                    PeriodStats* stats);

// One period's edges on the clock.
struct PeriodTimes {
    int64_t start_ns;
    int64_t deadline_ns;
    int64_t woke_ns;
    int64_t done_ns;
};

// (a) Reads the counters at a trial's start, so that its first period has
// an edge to count from.
void period_begin(PeriodStats* stats, const RtClock* clock);

// (a) Records period `index`: its lateness, processing and processor time,
// and a miss when the work ended after the deadline, with the thread's
// counters (`counters`: read at the work's end) and the judge's verdict.
// Writes into memory prepared before; no system call. Returns true on a
// miss.
bool period_account(PeriodStats* stats, const MissJudge* judge, uint64_t index,
                    const PeriodTimes* times, const RtThreadCounters* counters);

// What a driven run is to do.
struct LoopPlan {
    PeriodGrid grid;
    uint64_t warmup_periods; // run first on the same grid, with the same work, and not counted
    uint64_t periods;        // counted: periods 0 .. periods - 1 after the warm-up
    uint64_t miss_budget;    // once more periods than this missed, it raises halt
    MissJudge judge;
    // Checked once per period; the loop stops when it is not 0. A thread
    // that goes over its miss budget stores HALT_MISSED into it, so that
    // every thread of the trial stops.
    std::atomic<int32_t>* halt;
};

constexpr int32_t HALT_NONE = 0;
constexpr int32_t HALT_MISSED = 1;
constexpr int32_t HALT_STOP = 2; // a stop request from outside

// (b) Our driver: for each period, sleeps until its start on the grid, then
// does (a). It only sleeps, works and records: no file, no allocation, no
// lock. Returns the counted periods run.
uint64_t run_period_loop(const RtClock* clock, const LoopPlan* plan, const PeriodJob* job,
                         PeriodStats* stats);
