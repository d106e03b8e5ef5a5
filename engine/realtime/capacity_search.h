// The search for the largest number of streams a driver sustains. It only
// asks a TrialFunction to run trials, so any driver can be searched: our
// clock loop (clock_driver.h) or another that runs the same period work
// elsewhere.
//
// Only misses whose cause is the streams' work (miss_classify.h), that no
// counter could place, or that the kernel's throttling caused count against
// a count; the others are the system's own dropouts, kept apart. Throttling
// is named only once our own load nears the kernel's real-time share, so at
// a count it throttles the load does not fit on this system, whatever the
// processor could do without the share.
//
// Search: the processing time grows close to a line with the streams
// (a + b·k). Short trials measure it, and the count whose tail (the median
// trial's p99 / p50) would reach the period is tried next, then steps of
// 3 % either side, doubling while they go one way, until one count holds
// and one fails, then bisection down to 1 stream or 0.5 % of the count.
// A short trial cut short by misses that are not work is repeated up to
// max_repeats times; after that its stalls are the system's, not the
// processor's limit. One that failed by a single work miss has one second
// try, within the same repeats, and so has one whose median ran 15 % over
// the line (the machine was slower for a while, not the count).
//
// Then a confirm trial at the count found, or at the count the line aims
// at the target when that is lower (short trials are too short to show
// the tail), for the confirm length; it
// holds when it ran every period and its work misses stay within the
// allowed fraction, whatever the system itself dropped meanwhile (those
// are the dropout rate's). One that the system's stalls cut short runs
// again, once. When its work fails, the next confirm is aimed by its own
// median (after_failed_confirm in the source): at least 2 % lower, more
// when the streams ran slower than the short trials had shown, until one
// holds. The count reported has always held for the confirm length; a
// search that runs out of trials or confirms confirms nothing and says so.
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
    uint64_t miss_budget; // the trial may stop once more periods than this missed
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
};

// Runs one trial; false when a stop was requested (the outcome then holds
// what ran).
using TrialFunction = bool (*)(void* context, const TrialRequest* request, TrialOutcome* outcome);

struct SearchPlan {
    uint32_t upper_bound; // no count above it is tried
    uint64_t short_periods;
    uint64_t confirm_periods;
    double allowed_miss_fraction;
    int64_t period_ns;
    uint32_t max_trials;   // short and confirm trials together
    uint32_t max_confirms; // confirm trials at most
    uint32_t max_repeats;  // of a short trial that only the system's stalls cut short
};

enum SearchState : int32_t {
    SEARCH_CONFIRMED = 0,
    SEARCH_INTERRUPTED = 1,
    SEARCH_NOT_CONFIRMED = 2, // ran out of trials
};

struct SearchResult {
    SearchState state;
    uint32_t sustained; // confirmed count (0 when none)
    uint32_t headroom;
    uint32_t trials;
    uint32_t confirm_trials;
    uint32_t confirm_streams; // the count `confirm` ran
    TrialOutcome confirm;     // the confirm trial that held (or the last one run)
    MissCounts misses;        // of every trial, by cause
    uint64_t periods;         // every trial's
    double fixed_ns;          // processing time ≈ fixed_ns + per_stream_ns · streams;
    double per_stream_ns;     // 0 and 0 until two trials measured it
    // The slowest trial's time a stream over the fastest's, among those of
    // at least half the count (0: fewer than one measured). Far above 1,
    // the machine changed speed during the search (a neighbour on the
    // host, the frequency) and the count moves with it.
    double speed_spread;
};

// A spread above this is worth a word in the reports.
constexpr double SPEED_SPREAD_NOTE = 1.15;

// Short trials run on past this many misses, so that one stall of the
// system does not cut them short before their work misses show.
constexpr uint64_t SHORT_MISS_SLACK = 16;
constexpr uint64_t CONFIRM_MISS_SLACK = 64;
// An idle run in which the system itself missed more than this share of
// the periods shows nothing of the processor: the buffer size is not
// sustainable.
constexpr double SYSTEM_MISS_LIMIT = 0.01;
// A short trial teaches the line only with this many periods.
constexpr uint64_t SHORT_TRIAL_POINTS = 8;

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
