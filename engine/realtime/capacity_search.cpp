// The capacity search's course: short probes, then holds until the count
// that played and the one that failed meet, and the figures it reports;
// hold_aim.cpp says where each hold goes.
#include "engine/realtime/capacity_search.h"

#include "engine/realtime/hold_aim.h"
#include "engine/realtime/search_model.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
// Percent of the count at each headroom checkpoint.
constexpr uint32_t CHECKPOINT_PERCENT[MAX_CHECKPOINTS] = {25, 40, 50, 60, 65, 70, 75, 80,
                                                          85, 90, 93, 95, 97, 98, 99, 100};
// Short trials end once the model's aim moves by less than this between
// two of them and the pool can show its tail (search_model.h), or after
// MAX_SHORT_TRIALS: a quarter of a second
// each (16 periods at least), they teach b and the spread.
constexpr double SETTLED_SHARE = 0.02;

bool run_trial(TrialFunction trial, void* context, TrialRequest* request, TrialOutcome* outcome,
               SearchResult* result) {
    result->trials += 1;
    result->largest_tried =
        request->streams > result->largest_tried ? request->streams : result->largest_tried;
    *outcome = TrialOutcome{};
    const bool finished = trial(context, request, outcome);
    miss_counts_add(&result->misses, &outcome->misses);
    result->periods += outcome->periods;
    result->spent_periods += request->warmup_periods + outcome->periods;
    if (!finished) {
        result->state = SEARCH_INTERRUPTED;
        result->end = END_NONE;
    }
    return finished;
}

// A trial whose streams could not be prepared did not run: the ceiling
// comes down to what could be, below the count refused, and it is not
// counted as a trial.
bool refused(SearchPlan* plan, const TrialRequest* request, const TrialOutcome* outcome,
             SearchResult* result) {
    if (!outcome->refused) {
        return false;
    }
    result->trials -= 1;
    result->spent_periods -= request->warmup_periods;
    if (result->refused_at == 0 || request->streams < result->refused_at) {
        result->refused_at = request->streams;
    }
    const uint32_t below = request->streams > 0 ? request->streams - 1 : 0;
    plan->upper_bound = std::min({plan->upper_bound, outcome->prepared, below});
    return true;
}

// The largest checkpoint below `below` whose worst time stayed within
// `percent` of the period; 0 when none did.
uint32_t checkpoint_within(const TrialRequest* request, const TrialOutcome* outcome,
                           int64_t period_ns, int64_t percent, uint32_t below) {
    uint32_t fitted = 0;
    for (uint32_t c = 0; c < request->checkpoint_count; ++c) {
        if (request->checkpoints[c] < below && outcome->periods > 0 &&
            outcome->worst_checkpoint_ns[c] * 100 <= period_ns * percent) {
            fitted = request->checkpoints[c];
        }
    }
    return fitted;
}

// A short probe at `count`: run whole, whatever it misses, to measure.
TrialRequest probe_request(const Knowledge* known, const SearchPlan* plan, uint32_t count) {
    return TrialRequest{count,
                        plan->warmup_periods,
                        plan->short_periods,
                        UINT64_MAX,
                        model_judge(known, plan, count),
                        0,
                        {}};
}

// Short probes at the model's aim, run whole whatever they miss: they
// measure; until the aim settles.
bool measure(TrialFunction trial, void* context, SearchPlan* plan, Knowledge* known,
             SearchResult* result) {
    uint32_t last = 0;
    auto outcome = std::make_unique<TrialOutcome>();
    for (uint32_t s = 0; s < MAX_SHORT_TRIALS && result->trials < plan->max_trials; ++s) {
        uint32_t count = model_aim(known, plan);
        count = count < 1 ? 1 : count;
        const bool pooled = model_pooled(known);
        if (s > 0 && pooled &&
            std::fabs(static_cast<double>(count) - last) <= last * SETTLED_SHARE) {
            break;
        }
        count = count > plan->upper_bound ? plan->upper_bound : count;
        if (count == 0) {
            return true; // not one stream could be prepared
        }
        TrialRequest request = probe_request(known, plan, count);
        if (!run_trial(trial, context, &request, outcome.get(), result)) {
            return false;
        }
        if (refused(plan, &request, outcome.get(), result)) {
            continue;
        }
        model_learn(known, plan, &request, outcome.get());
        last = count;
    }
    return true;
}

TrialRequest hold_request(const Knowledge* known, const SearchPlan* plan, uint32_t count) {
    TrialRequest request{
        count,
        plan->warmup_periods,
        plan->hold_periods,
        hold_allowance(&plan->idle, plan->hold_periods, plan->allowed_miss_fraction),
        model_judge(known, plan, count),
        0,
        {}};
    request.checkpoint_count = headroom_checkpoints(count, request.checkpoints);
    return request;
}

// The cell's share of the run's time leaves no room for one more hold.
bool budget_spent(const SearchPlan* plan, const TrialRequest* request, const SearchResult* result) {
    return plan->period_budget > 0 &&
           result->spent_periods + request->warmup_periods + request->periods > plan->period_budget;
}

bool played(const SearchPlan* plan, const TrialRequest* request, const TrialOutcome* outcome) {
    return hold_plays(&plan->idle, request->periods, outcome->periods, outcome->missed,
                      plan->allowed_miss_fraction);
}

void search(TrialFunction trial, void* context, SearchPlan* plan, SearchResult* result,
            Knowledge* known) {
    if (plan->upper_bound == 0 || !measure(trial, context, plan, known, result)) {
        return;
    }
    if (plan->upper_bound == 0) {
        result->end = END_MEMORY;
        return;
    }
    result->tail_ratio = model_tail(known, plan);
    uint32_t low = 0;                       // the largest count that played
    uint32_t high = plan->upper_bound + 1u; // the smallest that failed, or past the bound
    uint32_t count = model_aim(known, plan);
    count = count < 1 ? 1 : count;
    auto outcome = std::make_unique<TrialOutcome>();
    auto below_hold = std::make_unique<TrialOutcome>(); // the hold that played at `below`
    uint32_t below_headroom = 0;
    result->end = END_HOLDS;
    uint32_t failures = 0;     // holds failed in a row
    uint32_t below = 0;        // the largest count that played below `low`
    bool again = false;        // this hold runs `low` a second time
    bool low_twice = false;    // `low` played twice
    uint32_t paused_holds = 0; // failed holds struck by the host's pauses
    // Until a count played the holds may run to twice their cap when they
    // failed for the load's own periods: a first aim far over what plays
    // must not leave the cell with nothing held. The host's pauses would
    // fail the extra holds alike, so two holds struck by them end the extra
    // ones; one alone may be a slow stretch of the load that looked so.
    while (result->trials < plan->max_trials &&
           result->holds < (low > 0 || paused_holds >= 2 ? plan->max_holds : 2 * plan->max_holds) &&
           result->played_holds < plan->max_played) {
        TrialRequest request = hold_request(known, plan, count);
        // What is reported held: the budget never stops a search before a
        // count played.
        if (low > 0 && budget_spent(plan, &request, result)) {
            result->end = END_BUDGET;
            break;
        }
        result->holds += 1;
        if (!run_trial(trial, context, &request, outcome.get(), result)) {
            result->hold = *outcome;
            result->hold_streams = count;
            return;
        }
        if (refused(plan, &request, outcome.get(), result)) {
            result->holds -= 1;
            high = std::min(high, plan->upper_bound + 1u);
            if (plan->upper_bound == 0 || low >= plan->upper_bound) {
                result->end = END_MEMORY;
                break;
            }
            count = plan->upper_bound;
            continue;
        }
        const bool plays = played(plan, &request, outcome.get());
        const bool paused = !plays && struck_by_pauses(&request, outcome.get());
        paused_holds += paused ? 1u : 0u;
        model_learn(known, plan, &request, outcome.get());
        if (plays) {
            low_twice = again;
            if (!again && low > 0) {
                *below_hold = result->hold; // what `below` rests on, should `low` fail again
                below_headroom = result->headroom;
            }
            below = again ? below : low;
            low = count;
            failures = 0;
            result->played_holds += 1;
            result->hold = *outcome;
            result->hold_streams = count;
            result->headroom = checkpoint_within(&request, outcome.get(), plan->period_ns,
                                                 HEADROOM_PERCENT, count + 1);
        } else {
            // A count that played once and failed its second hold plays
            // less often than not: the search goes on below it.
            if (again) {
                low = below;
                below = 0;
                if (low > 0) {
                    // The count reported rests on its own hold, not the one that failed again.
                    result->hold = *below_hold;
                    result->hold_streams = low;
                    result->headroom = below_headroom;
                }
            }
            high = count;
            failures += 1;
            result->failed_at = count;
            result->failed = *outcome;
            if (low == 0) {
                result->hold = *outcome;
                result->hold_streams = count;
            }
        }
        again = false;
        if (low == plan->upper_bound) {
            result->end = result->refused_at > 0 ? END_MEMORY : END_CEILING;
            break;
        }
        const bool met = high == 1 || (low > 0 && high - low <= count_resolution(low));
        if (met && (low == 0 || low_twice)) {
            result->end = END_MET;
            break;
        }
        if (met) {
            // Where the two meet, the count that played holds once more
            // before it is reported: one hold at the edge plays about as
            // often as it fails.
            again = true;
            count = low;
            continue;
        }
        count = next_count(known, plan, low, high, count, outcome.get(), failures, paused);
    }
    result->plays = low;
    result->headroom = result->headroom < low ? result->headroom : low;
    result->state = low > 0 ? SEARCH_PLAYED : SEARCH_NONE_PLAYED;
}

void finish(const SearchPlan* plan, const Knowledge* known, SearchResult* result) {
    result->fixed_ns = plan->fixed_ns;
    result->per_stream_ns = known->per_stream_ns;
    result->allowance =
        hold_allowance(&plan->idle, plan->hold_periods, plan->allowed_miss_fraction);
    const uint32_t finest = count_resolution(result->plays);
    const uint32_t gap = result->failed_at > result->plays && result->plays > 0
                             ? result->failed_at - result->plays
                             : finest;
    result->resolution = gap > finest ? gap : finest;
    const uint32_t count = result->plays > 0 ? result->plays : result->hold_streams;
    result->speed_spread = model_speed_spread(known, plan, count);
    const int64_t room = plan->period_ns - known->usual_late_ns;
    result->median_fits =
        median_fits(&result->hold.shape, thread_share(result->hold_streams, plan->threads, 0),
                    plan->threads, plan->fixed_ns, room);
}

} // namespace

uint32_t thread_share(uint32_t total, uint32_t threads, uint32_t index) {
    return total / threads + (index < total % threads ? 1 : 0);
}

uint32_t headroom_checkpoints(uint32_t streams, uint32_t checkpoints[MAX_CHECKPOINTS]) {
    uint32_t count = 0;
    for (uint32_t percent : CHECKPOINT_PERCENT) {
        auto at = static_cast<uint32_t>(uint64_t{streams} * percent / 100);
        if (at > 0 && (count == 0 || at > checkpoints[count - 1])) {
            checkpoints[count++] = at;
        }
    }
    return count;
}

void search_capacity(TrialFunction trial, void* context, const SearchPlan* plan,
                     SearchResult* result) {
    *result = SearchResult{};
    result->state = SEARCH_NONE_PLAYED;
    std::unique_ptr<Knowledge> known = model_start(plan);
    SearchPlan bounded = *plan; // its ceiling comes down when a count cannot be prepared
    search(trial, context, &bounded, result, known.get());
    finish(&bounded, known.get(), result);
}

void hold_fixed(TrialFunction trial, void* context, const SearchPlan* plan, uint32_t streams,
                SearchResult* result) {
    *result = SearchResult{};
    std::unique_ptr<Knowledge> known = model_start(plan);
    // A short probe first, as the search's: instances that never ran are
    // slow in their first periods, and a warm-up that overran would leave
    // the hold's first periods late behind it.
    TrialRequest probe = probe_request(known.get(), plan, streams);
    auto outcome = std::make_unique<TrialOutcome>();
    if (!run_trial(trial, context, &probe, outcome.get(), result)) {
        result->state = SEARCH_INTERRUPTED;
        result->hold_streams = streams;
        finish(plan, known.get(), result);
        return;
    }
    model_learn(known.get(), plan, &probe, outcome.get());
    TrialRequest request = hold_request(known.get(), plan, streams);
    result->holds = 1;
    result->hold_streams = streams;
    if (!run_trial(trial, context, &request, &result->hold, result)) {
        result->state = SEARCH_INTERRUPTED;
    } else if (played(plan, &request, &result->hold)) {
        result->state = SEARCH_PLAYED;
        result->played_holds = 1;
        result->headroom = checkpoint_within(&request, &result->hold, plan->period_ns,
                                             HEADROOM_PERCENT, streams + 1);
    } else {
        result->state = SEARCH_NONE_PLAYED;
        result->failed_at = streams;
    }
    result->plays = streams;
    finish(plan, known.get(), result);
}
