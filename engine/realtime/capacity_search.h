// The search for the largest number of streams a driver sustains. It only
// asks a TrialFunction to run trials, so any driver can be searched: our
// clock loop (clock_driver.h) or another that runs the same period work
// elsewhere.
//
// Search: bisection between 0 streams (the idle system, known to hold) and
// one above the upper bound (taken from the kernel-alone cost: no more can
// fit) with short trials that give up at the first miss beyond the allowed
// fraction, down to a resolution of 1 stream or 0.5 % of the count. Then a
// confirm trial at the count found, for the confirm length; when it fails,
// the next confirm is at the most streams the failed run itself finished
// before the period's end in every period, late wake-ups included (its
// checkpoints, below), and at least 5 % below the failed count, until a
// confirm holds. The count reported has always held for the confirm length;
// a search that runs out of trials or confirms confirms nothing and says so.
//
// Headroom: the confirm trial reads the clock after several smaller counts
// of streams (checkpoints) in each period; the headroom is the largest of
// them whose worst processing time stayed at most HEADROOM_PERCENT of the
// period.
#pragma once

#include "engine/realtime/histogram.h"
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

struct TrialOutcome {
    uint64_t periods; // periods run (fewer than asked when it gave up or was stopped)
    uint64_t missed;  // periods in which any thread's work ended after the deadline
    Histogram lateness;
    Histogram processing;
    int64_t worst_checkpoint_ns[MAX_CHECKPOINTS];     // processing, from the wake-up
    int64_t worst_checkpoint_end_ns[MAX_CHECKPOINTS]; // from the period's start
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
};

// Misses a trial of `periods` may have and still hold.
uint64_t allowed_misses(uint64_t periods, double fraction);
bool trial_held(const TrialRequest* request, const TrialOutcome* outcome, double fraction);

// Checkpoints of a confirm trial at `streams`: fractions of it from a quarter
// up to the whole, distinct and ascending.
uint32_t headroom_checkpoints(uint32_t streams, uint32_t checkpoints[MAX_CHECKPOINTS]);

void search_capacity(TrialFunction trial, void* context, const SearchPlan* plan,
                     SearchResult* result);
