#include "engine/realtime/capacity_search.h"

#include <cmath>

namespace {
// Percent of the count at each headroom checkpoint.
constexpr uint32_t CHECKPOINT_PERCENT[MAX_CHECKPOINTS] = {25, 40, 50, 60, 65, 70, 75, 80,
                                                          85, 90, 93, 95, 97, 98, 99, 100};
constexpr int64_t HEADROOM_PERCENT = 80;

uint32_t resolution(uint32_t count) {
    uint32_t step = count / 200;
    return step < 1 ? 1 : step;
}

struct Bisection {
    uint32_t low;  // largest count whose short trial held (0 always holds)
    uint32_t high; // smallest count known not to hold
};

// Largest count below `ceiling` whose short trial held, from the log.
struct TrialLog {
    uint32_t held[64];
    uint32_t count;
};

uint32_t best_below(const TrialLog* log, uint32_t ceiling) {
    uint32_t best = 0;
    for (uint32_t i = 0; i < log->count; ++i) {
        if (log->held[i] < ceiling && log->held[i] > best) {
            best = log->held[i];
        }
    }
    return best;
}

bool run_trial(TrialFunction trial, void* context, TrialRequest* request, TrialOutcome* outcome,
               SearchResult* result) {
    result->trials += 1;
    *outcome = TrialOutcome{};
    if (!trial(context, request, outcome)) {
        result->state = SEARCH_INTERRUPTED;
        return false;
    }
    return true;
}

// The largest checkpoint below `below` whose worst time (one of the
// outcome's two arrays) stayed within `percent` of the period; 0 when none
// did.
uint32_t checkpoint_within(const TrialRequest* request, const TrialOutcome* outcome,
                           const int64_t worst[MAX_CHECKPOINTS], int64_t period_ns, int64_t percent,
                           uint32_t below) {
    uint32_t fitted = 0;
    for (uint32_t c = 0; c < request->checkpoint_count; ++c) {
        if (request->checkpoints[c] < below && outcome->periods > 0 &&
            worst[c] * 100 <= period_ns * percent) {
            fitted = request->checkpoints[c];
        }
    }
    return fitted;
}
} // namespace

uint64_t allowed_misses(uint64_t periods, double fraction) {
    return static_cast<uint64_t>(std::floor(static_cast<double>(periods) * fraction));
}

bool trial_held(const TrialRequest* request, const TrialOutcome* outcome, double fraction) {
    return outcome->periods == request->periods &&
           outcome->missed <= allowed_misses(request->periods, fraction);
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
    result->state = SEARCH_NOT_CONFIRMED;
    TrialLog log{};
    Bisection range{0, plan->upper_bound + 1};
    TrialOutcome outcome{};
    uint32_t candidate = 0;
    bool direct = false; // confirm `candidate` without bisecting first
    for (;;) {
        while (!direct && range.high - range.low > resolution(range.low)) {
            if (result->trials >= plan->max_trials) {
                return;
            }
            uint32_t middle = range.low + (range.high - range.low) / 2;
            TrialRequest request{middle,
                                 plan->short_periods,
                                 allowed_misses(plan->short_periods, plan->allowed_miss_fraction),
                                 0,
                                 {}};
            if (!run_trial(trial, context, &request, &outcome, result)) {
                return;
            }
            if (trial_held(&request, &outcome, plan->allowed_miss_fraction)) {
                range.low = middle;
                if (log.count < 64) {
                    log.held[log.count++] = middle;
                }
            } else {
                range.high = middle;
            }
        }
        if (!direct) {
            candidate = range.low;
        }
        if (candidate == 0) {
            // Nothing above the idle system held even a short trial: 0 streams,
            // which the idle run confirmed.
            result->state = SEARCH_CONFIRMED;
            result->confirm_streams = 0;
            result->confirm = TrialOutcome{};
            return;
        }
        if (result->trials >= plan->max_trials || result->confirm_trials >= plan->max_confirms) {
            return;
        }
        TrialRequest request{candidate,
                             plan->confirm_periods,
                             allowed_misses(plan->confirm_periods, plan->allowed_miss_fraction),
                             0,
                             {}};
        request.checkpoint_count = headroom_checkpoints(candidate, request.checkpoints);
        result->confirm_trials += 1;
        result->confirm_streams = candidate;
        if (!run_trial(trial, context, &request, &result->confirm, result)) {
            return;
        }
        if (trial_held(&request, &result->confirm, plan->allowed_miss_fraction)) {
            result->state = SEARCH_CONFIRMED;
            result->sustained = candidate;
            result->headroom =
                checkpoint_within(&request, &result->confirm, result->confirm.worst_checkpoint_ns,
                                  plan->period_ns, HEADROOM_PERCENT, candidate + 1);
            return;
        }
        // It failed: go on below it, straight to the most streams that the
        // failed run itself fitted in every period, and at least 5 % fewer
        // (the next run may meet a worse period), when that is more than
        // the best short trial below.
        range.high = candidate;
        range.low = best_below(&log, candidate);
        uint32_t fitted =
            checkpoint_within(&request, &result->confirm, result->confirm.worst_checkpoint_end_ns,
                              plan->period_ns, 100, candidate);
        uint32_t stepped = candidate - (candidate / 20 > 1 ? candidate / 20 : 1);
        fitted = fitted < stepped ? fitted : stepped;
        direct = fitted > range.low;
        candidate = direct ? fitted : range.low;
    }
}
