// The search for the largest count that plays. It only asks a
// TrialFunction to run trials, so any driver can be searched: our clock
// loop (clock_driver.h) or another that runs the same period work
// elsewhere.
//
// A count is decided by holds alone, judged by the one rule of
// hold_rule.h: a hold of the confirm's length at K plays when it missed no
// more periods, whatever their causes, than the idle system's allowance;
// it stops as soon as its misses pass that allowance. A model aims the
// holds, never decides them: short probes (a quarter of a second each)
// learn the work a stream adds (b, through the idle run's fixed part a)
// and the periods' spread, and the first hold is aimed where the pooled
// spread's tail would fit. From there each hold's own periods aim the
// next: a hold that failed scales the count by the room over the time of
// its slowest period (when the host's pauses explain all its misses, only
// by a cut that doubles with each failure in a row); one that played by
// the room over its slowest period, and once a count played and one
// failed, the next lies halfway.
// A trial refused (its streams could not be prepared) lowers the ceiling
// to what could be, and the search goes on below it.
// The search ends when the two meet within the resolution, when the
// ceiling played, or when its holds run out, and the count reported is
// the largest that played: what is reported held.
//
// Headroom: the hold reads the clock after several smaller counts of
// streams (checkpoints) in each period; the headroom is the largest of
// them whose worst processing time stayed at most HEADROOM_PERCENT of the
// period.
#pragma once

#include "engine/realtime/histogram.h"
#include "engine/realtime/hold_rule.h"
#include "engine/realtime/hold_shape.h"
#include "engine/realtime/miss_cause.h"
#include "engine/realtime/period_loop.h"

#include <cstdint>

// The headroom's limit: the worst processing time, percent of the period.
constexpr int64_t HEADROOM_PERCENT = 80;

struct TrialRequest {
    uint32_t streams;
    uint64_t warmup_periods; // run first, all streams at work, and not counted
    uint64_t periods;        // counted
    uint64_t miss_budget;    // it may stop once more periods than this missed, whatever the cause
    MissJudge judge;         // the loop's first word on each miss's cause
    uint32_t checkpoint_count;
    uint32_t checkpoints[MAX_CHECKPOINTS];
};

// What a trial inside an audio server's cycle saw of the server, beside our
// own figures and never in their place (our clock leaves it empty).
struct ServerFigures {
    bool measured;
    uint64_t xruns;         // the xruns the server reported during the trial
    double load_mean;       // the server's own load figure, percent: mean of each period's
    double load_max;        // and the largest
    double our_load_mean;   // our processing time as a share of the period, percent
    double our_load_max;    // the worst period's
    bool stated_end_known;  // the server stated its cycle's end (jack_get_cycle_times)
    uint64_t stated_missed; // periods whose work ended after that stated end
};

// A missed period as the picture marks it.
struct MissMark {
    int64_t processing_ns;
    int64_t lateness_ns;
    MissCause cause;
};
constexpr uint32_t MAX_MISS_MARKS = 64;

struct TrialOutcome {
    uint64_t periods;  // periods run (fewer than asked when it gave up or was stopped)
    uint64_t missed;   // periods in which any thread's work ended after the deadline
    MissCounts misses; // `missed` by cause
    uint32_t mark_count;
    MissMark marks[MAX_MISS_MARKS]; // the first misses
    Histogram lateness;
    Histogram processing;
    int64_t worst_checkpoint_ns[MAX_CHECKPOINTS]; // processing, from the wake-up
    ServerFigures server;
    bool denormals_lost; // a measuring thread ended the trial with FTZ or DAZ cleared
    // Each period's work over the judge's expected_ns: the spread the
    // model pools to aim the first hold.
    SpreadHistogram spread;
    HoldShape shape; // every counted period, read (hold_shape.h)
    // The second slowest work of a warm-up that ran into the counted
    // periods (any thread's, period_loop.h); 0 when every warm-up ended in
    // time.
    int64_t warmup_overrun_ns;
    // The trial did not run: its count could not be prepared (the memory
    // limit), only `prepared` streams could.
    bool refused;
    uint32_t prepared;
};

// Runs one trial; false when a stop was requested (the outcome then holds
// what ran).
using TrialFunction = bool (*)(void* context, const TrialRequest* request, TrialOutcome* outcome);

struct SearchPlan {
    uint32_t upper_bound; // no count above it is tried: the streams allocated, within the ceiling
    uint64_t short_periods;
    uint64_t hold_periods;   // the confirm's length
    uint64_t warmup_periods; // before every trial's counted periods
    IdleFloor idle;          // the idle run's periods and misses: the allowance
    double allowed_miss_fraction;
    int64_t period_ns;
    uint32_t threads;      // the streams are split over this many, each with its own periods
    double fixed_ns;       // a: processing a period with no streams (the idle run's)
    double per_stream_ns;  // b's start: one stream a period, the kernel alone
    int64_t usual_late_ns; // the idle run's median wake-up lateness
    double throttle_share; // of real-time threads (rt_throttle_share), -1 unknown
    uint32_t max_trials;   // probes and holds together
    uint32_t max_holds;    // holds at most
    uint32_t max_played;   // holds that ran their whole length at most
    // Once a count played, a hold starts only while the periods of every
    // trial so far, warm-ups included, and its own stay within this (0: no
    // limit): the cell's share of the run's time.
    uint64_t period_budget;
};

enum SearchState : int32_t {
    SEARCH_PLAYED = 0, // a hold played
    SEARCH_INTERRUPTED = 1,
    SEARCH_NONE_PLAYED = 2, // no hold played
};

// Why a search stopped.
enum SearchEnd : int32_t {
    END_NONE = 0,    // interrupted
    END_MET = 1,     // the count that played and the one that failed met within the resolution
    END_CEILING = 3, // the upper bound itself played
    END_HOLDS = 4,   // the holds or trials ran out first
    END_MEMORY = 5,  // the most streams that could be prepared played, or none could be
    END_BUDGET = 6,  // the cell's share of the run's time ran out first
};

struct SearchResult {
    SearchState state;
    SearchEnd end;
    uint32_t plays; // the largest count that played (0 when none)
    uint32_t headroom;
    uint32_t failed_at;  // the smallest count whose hold failed; 0: none failed
    uint32_t refused_at; // the smallest count that could not be prepared; 0: none
    uint32_t trials;
    uint32_t holds;
    uint32_t played_holds;
    uint32_t hold_streams; // the count `hold` ran
    uint32_t largest_tried;
    TrialOutcome hold;      // the hold that played (or the last one run)
    TrialOutcome failed;    // the hold at failed_at
    uint64_t allowance;     // the misses a whole hold may have
    MissCounts misses;      // of every trial, by cause
    uint64_t periods;       // every trial's
    uint64_t spent_periods; // every trial's periods and warm-ups: what the budget counts
    double fixed_ns;        // processing time ≈ fixed_ns + per_stream_ns · streams a thread
    double per_stream_ns;
    double tail_ratio;    // the pooled spread's tail at the first hold's aim
    uint32_t median_fits; // of `hold` (hold_shape.h)
    // What the count is known to, in streams: the gap between the count
    // that played and the smallest that failed, at least RESOLUTION_SHARE
    // of the count.
    uint32_t resolution;
    // The slowest trial's time a stream over the fastest's, among those of
    // at least half the count (0: fewer than one measured). Far above 1,
    // the machine changed speed during the search (a neighbour on the
    // host, the frequency) and the count moves with it.
    double speed_spread;
};

// A spread above this is worth a word in the reports: two timings of the
// same kernel on a quiet machine here differ by up to 10 %.
constexpr double SPEED_SPREAD_NOTE = 1.15;
// The first hold is aimed where the pooled spread's tail fits with this
// probability over the whole hold.
constexpr double CONFIRM_ODDS = 0.9;
// An idle run in which the system itself missed more than this share of
// the periods shows nothing of the processor: the buffer size is not
// sustainable.
constexpr double SYSTEM_MISS_LIMIT = 0.01;
// Short probes a search runs at most before its first hold.
constexpr uint32_t MAX_SHORT_TRIALS = 3;
// Two counts this share apart are one answer: the search's finest resolution.
constexpr double RESOLUTION_SHARE = 0.02;

// Streams of `total` that thread `index` of `threads` takes: the search's
// counts are split so, and every driver runs them so.
uint32_t thread_share(uint32_t total, uint32_t threads, uint32_t index);

// Checkpoints of a hold at `streams`: fractions of it from a quarter up to
// the whole, distinct and ascending.
uint32_t headroom_checkpoints(uint32_t streams, uint32_t checkpoints[MAX_CHECKPOINTS]);

void search_capacity(TrialFunction trial, void* context, const SearchPlan* plan,
                     SearchResult* result);
// One hold at a fixed count (--streams), after a short probe at it that
// is not judged: plays or does not play.
void hold_fixed(TrialFunction trial, void* context, const SearchPlan* plan, uint32_t streams,
                SearchResult* result);
