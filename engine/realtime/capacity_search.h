// The search for the largest number of streams a driver sustains. It only
// asks a TrialFunction to run trials, so any driver can be searched: our
// clock loop (clock_driver.h) or another that runs the same period work
// elsewhere.
//
// Only misses whose cause is the streams' work, that no counter could
// place, or that the kernel's throttling caused count against a count
// (the loop judges each at once: period_loop.h); the system's other
// misses never cut a trial short and go to the dropout rate.
//
// One model: each period's work is close to (a + b·k)·X for k streams on
// a thread, and it fits when that leaves the usual wake-up room, where X is the
// period-to-period spread pooled over every trial (each trial's periods
// over their own median). The fixed part a is the idle run's (the harness
// with no streams); b starts from the kernel alone and the trials correct
// it, never a free intercept. Short trials, a quarter of a second each at
// the count the model aims at, measure b and X; confirms decide. Each
// confirm is aimed at the count that holds a whole confirm, with the
// allowed misses, with a probability of CONFIRM_ODDS under the pooled X.
// X's tail that far out is more than a few seconds of periods show, so it
// is read as the empirical spread up to its last 30 % and, beyond, as an
// exponential fitted to that part's excess; periods far past that tail
// (pauses, the edge of a slow spell) join no pool. The count reported is
// the largest held, or less where all the periods pooled by the end aim
// lower, with its resolution: the search's step or the tail's error in
// streams, whichever is wider.
//
// A failed confirm is an upper bound and its periods join the pool; a held
// one is a lower bound, and the next aim lies between the two (the model's
// aim, or halfway when the model points outside). The search stops when
// the bounds meet within the resolution, when the model aims no higher
// than the count held, or when the confirms run out, and says which. It
// never tries a count above its upper bound or past the streams allocated.
//
// Headroom: the confirm trial reads the clock after several smaller counts
// of streams (checkpoints) in each period; the headroom is the largest of
// them whose worst processing time stayed at most HEADROOM_PERCENT of the
// period.
#pragma once

#include "engine/realtime/histogram.h"
#include "engine/realtime/miss_cause.h"
#include "engine/realtime/period_loop.h"

#include <cstdint>

// The headroom's limit: the worst processing time, percent of the period.
constexpr int64_t HEADROOM_PERCENT = 80;

struct TrialRequest {
    uint32_t streams;
    uint64_t periods;
    uint64_t miss_budget; // it may stop once more misses than this count against the streams
    MissJudge judge;      // how the loop tells those at once
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
    // search pools (less what lies far past its tail).
    SpreadHistogram spread;
};

// Runs one trial; false when a stop was requested (the outcome then holds
// what ran).
using TrialFunction = bool (*)(void* context, const TrialRequest* request, TrialOutcome* outcome);

struct SearchPlan {
    uint32_t upper_bound; // no count above it is tried: the streams allocated, within the ceiling
    uint64_t short_periods;
    uint64_t confirm_periods;
    double allowed_miss_fraction;
    int64_t period_ns;
    uint32_t threads;      // the streams are split over this many, each with its own periods
    double fixed_ns;       // a: processing a period with no streams (the idle run's)
    double per_stream_ns;  // b's start: one stream a period, the kernel alone
    int64_t usual_late_ns; // the idle run's median wake-up lateness
    double throttle_share; // of real-time threads (rt_throttle_share), -1 unknown
    uint32_t max_trials;   // short and confirm trials together
    uint32_t max_confirms; // confirm trials at most
};

enum SearchState : int32_t {
    SEARCH_CONFIRMED = 0,
    SEARCH_INTERRUPTED = 1,
    SEARCH_NOT_CONFIRMED = 2, // no confirm held
};

// Why a search stopped.
enum SearchEnd : int32_t {
    END_NONE = 0,     // interrupted
    END_MET = 1,      // the held and the failed count met within the resolution
    END_MODEL = 2,    // the model aims no higher than the count held
    END_CEILING = 3,  // the upper bound itself held
    END_CONFIRMS = 4, // the confirms or trials ran out first
};

struct SearchResult {
    SearchState state;
    SearchEnd end;
    uint32_t sustained; // confirmed count (0 when none)
    uint32_t headroom;
    uint32_t failed_at; // the smallest count whose confirm failed; 0: none failed
    uint32_t trials;
    uint32_t confirm_trials;
    uint32_t confirm_streams; // the count `confirm` ran
    uint32_t largest_tried;
    TrialOutcome confirm; // the confirm trial that held (or the last one run)
    MissCounts misses;    // of every trial, by cause
    uint64_t periods;     // every trial's
    double fixed_ns;      // processing time ≈ fixed_ns + per_stream_ns · streams a thread
    double per_stream_ns;
    double tail_ratio; // X at the confirm's aim: the model's tail over its median
    // What the count is known to, in streams: the larger of the search's
    // step (half a percent) and three standard errors of the tail carried
    // into streams. A count a few seconds of periods cannot pin down says so.
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
// A confirm is aimed to hold with this probability: one in ten fails at
// the true capacity, so a held count is a likely one, not a lucky one.
constexpr double CONFIRM_ODDS = 0.9;
// An idle run in which the system itself missed more than this share of
// the periods shows nothing of the processor: the buffer size is not
// sustainable.
constexpr double SYSTEM_MISS_LIMIT = 0.01;

// Missed periods of a trial that count against its count: work, those of
// unknown cause, and throttling.
uint64_t work_misses(const TrialOutcome* outcome);

// Misses a trial of `periods` may have and still hold.
uint64_t allowed_misses(uint64_t periods, double fraction);
// The trial ran all its periods with no more work misses than allowed.
bool trial_held(const TrialRequest* request, const TrialOutcome* outcome, double fraction);

// Checkpoints of a confirm trial at `streams`: fractions of it from a quarter
// up to the whole, distinct and ascending.
uint32_t headroom_checkpoints(uint32_t streams, uint32_t checkpoints[MAX_CHECKPOINTS]);

void search_capacity(TrialFunction trial, void* context, const SearchPlan* plan,
                     SearchResult* result);
// How the loop judges a trial of `streams` before anything was measured:
// the kernel alone and the prior tail (a fixed count runs with it).
MissJudge first_judge(const SearchPlan* plan, uint32_t streams);
