// What a hold's periods show, read from every period it ran (not from a
// model): the spread of their times, and what limits the count.
//
//   bursts       slow periods that recur at a fixed interval: the load's
//                own (a reverb refilling its buffers, a chord struck);
//   slow phases  stretches of a second or more at a higher median: the
//                machine or the load ran slower for a while;
//   pauses       single long periods at no fixed interval: the host's.
//
// A period's time here is the busiest thread's work in it (from its
// wake-up to its end, wall time); a period is missed when any thread's
// work ended after the deadline.
#pragma once

#include <cstdint>

// One period of one measuring thread, as the loop records it.
struct PeriodSample {
    int64_t processing_ns; // from the wake-up to the work's end
    int64_t cpu_ns;        // the thread's own processor time in it; -1 unknown
    int64_t lateness_ns;   // the wake-up after the period's start
};

struct HoldSpread {
    int64_t p50_ns; // the median period's work
    double p99;     // over p50
    double p999;
    double max;
};

struct HoldLimits {
    bool bursts;
    double burst_factor;   // the burst periods' median over the others'
    double burst_ms;       // how long a burst lasts
    double burst_every_ms; // the interval they recur at
    bool slow_phases;
    double slow_share;  // of the hold's time
    double slow_factor; // the slow stretches' median over the rest's
    uint32_t pauses;    // long periods at no fixed interval
    double pause_longest_ms;
    double pauses_per_minute;
};

struct HoldShape {
    uint64_t periods; // read
    HoldSpread spread;
    HoldLimits limits;
    int64_t median_cpu_ns; // the busiest thread's own processor time, median; -1 unknown
};

// A period this many times the median or longer is slow (a burst, a pause
// or a slow phase's); a stretch is a slow phase when its running median
// lies SLOW_PHASE_FACTOR over the hold's lower half for SLOW_PHASE_SECONDS.
constexpr double SLOW_PERIOD_FACTOR = 1.5;
constexpr double SLOW_PHASE_FACTOR = 1.15;
constexpr double SLOW_PHASE_SECONDS = 0.5;
// Bursts recur at one interval within this share of it.
constexpr double BURST_INTERVAL_TOLERANCE = 0.1;

// Reads `periods` periods of `threads` threads' samples (samples[t][p]).
// Without a load (`loaded` false: the idle run, whose periods only wake
// up) no cost can rise, so only the pauses are read.
// Scratch memory is taken and given back here; false when there was none.
bool hold_shape_of(const PeriodSample* const* samples, uint32_t threads, uint64_t periods,
                   int64_t period_ns, bool loaded, HoldShape* shape);

// The count at which the hold's median period would just fit: each
// thread's `per_thread` streams took p50_ns with `fixed_ns` of it the
// harness's, and `room_ns` of the period is left after the usual wake-up.
// Summed over the threads; 0 when not known.
uint32_t median_fits(const HoldShape* shape, uint32_t per_thread, uint32_t threads, double fixed_ns,
                     int64_t room_ns);
