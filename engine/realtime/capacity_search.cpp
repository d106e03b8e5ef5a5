#include "engine/realtime/capacity_search.h"

#include <cmath>

namespace {
// Percent of the count at each headroom checkpoint.
constexpr uint32_t CHECKPOINT_PERCENT[MAX_CHECKPOINTS] = {25, 40, 50, 60, 65, 70, 75, 80,
                                                          85, 90, 93, 95, 97, 98, 99, 100};

uint32_t resolution(uint32_t count) {
    uint32_t step = count / 200;
    return step < 1 ? 1 : step;
}

struct Bisection {
    uint32_t low;  // largest count whose short trial held (0 always holds)
    uint32_t high; // smallest count known not to hold
};

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
    Bisection range{0, plan->upper_bound + 1};
    TrialOutcome outcome{};
    while (range.high - range.low > resolution(range.low)) {
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
        } else {
            range.high = middle;
        }
    }
    uint32_t candidate = range.low;
    while (candidate > 0) {
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
        // It failed: next, the most streams that the failed run itself
        // finished before the period's end in every period, and at least 5 %
        // fewer (the next run may meet a worse period).
        uint32_t fitted =
            checkpoint_within(&request, &result->confirm, result->confirm.worst_checkpoint_end_ns,
                              plan->period_ns, 100, candidate);
        uint32_t stepped = candidate - (candidate / 20 > 1 ? candidate / 20 : 1);
        candidate = fitted > 0 && fitted < stepped ? fitted : stepped;
    }
    // Nothing above the idle system held even a short trial: 0 streams,
    // which the idle run confirmed.
    result->state = SEARCH_CONFIRMED;
    result->confirm_streams = 0;
    result->confirm = TrialOutcome{};
}
