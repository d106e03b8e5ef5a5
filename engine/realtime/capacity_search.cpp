#include "engine/realtime/capacity_search.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
// Percent of the count at each headroom checkpoint.
constexpr uint32_t CHECKPOINT_PERCENT[MAX_CHECKPOINTS] = {25, 40, 50, 60, 65, 70, 75, 80,
                                                          85, 90, 93, 95, 97, 98, 99, 100};
// The share of the period the predicted tail is aimed at.
constexpr double TARGET_SHARE = 0.97;
// Steps either side of the prediction until the capacity is bracketed.
constexpr double BRACKET_STEP = 0.03;
// A confirm whose work failed is followed by one this much lower.
constexpr double CONFIRM_STEP = 0.02;
constexpr uint32_t MAX_POINTS = 64;

uint32_t resolution(uint32_t count) {
    uint32_t step = count / 200;
    return step < 1 ? 1 : step;
}

// What the short trials have shown: the largest count that held, the
// smallest that failed, and the processing times against the count.
struct Knowledge {
    uint32_t low;  // 0 always holds: the idle system
    uint32_t high; // one above the bound: no more can fit
    uint32_t point_count;
    double counts[MAX_POINTS];
    double medians[MAX_POINTS];
    uint32_t ratio_count;
    double ratios[MAX_POINTS]; // each trial's p99 / p50
    double wakes[MAX_POINTS];  // and its median wake-up lateness
    uint32_t run;              // steps in one direction so far
    uint32_t speed_count;      // every trial's streams and median, confirms too
    double speed_streams[MAX_POINTS];
    double speed_medians[MAX_POINTS];
};

bool run_trial(TrialFunction trial, void* context, TrialRequest* request, TrialOutcome* outcome,
               Knowledge* known, SearchResult* result) {
    result->trials += 1;
    *outcome = TrialOutcome{};
    bool finished = trial(context, request, outcome);
    miss_counts_add(&result->misses, &outcome->misses);
    result->periods += outcome->periods;
    const int64_t median = histogram_percentile(&outcome->processing, P50);
    if (outcome->periods >= SHORT_TRIAL_POINTS && median > 0 && known->speed_count < MAX_POINTS) {
        known->speed_streams[known->speed_count] = request->streams;
        known->speed_medians[known->speed_count] = static_cast<double>(median);
        known->speed_count += 1;
    }
    if (!finished) {
        result->state = SEARCH_INTERRUPTED;
    }
    return finished;
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

void learn(Knowledge* known, uint32_t streams, const TrialOutcome* outcome) {
    const int64_t median = histogram_percentile(&outcome->processing, P50);
    const int64_t tail = histogram_percentile(&outcome->processing, P99);
    if (streams == 0 || median <= 0 || outcome->periods < SHORT_TRIAL_POINTS) {
        return;
    }
    if (known->ratio_count < MAX_POINTS) {
        known->wakes[known->ratio_count] =
            static_cast<double>(histogram_percentile(&outcome->lateness, P50));
        known->ratios[known->ratio_count++] =
            static_cast<double>(tail) / static_cast<double>(median);
    }
    if (known->point_count < MAX_POINTS) {
        known->counts[known->point_count] = streams;
        known->medians[known->point_count] = static_cast<double>(median);
        known->point_count += 1;
    }
}

// Least squares over the points; through the origin while there is one.
void fit(const Knowledge* known, SearchResult* result) {
    double n = known->point_count;
    double sx = 0.0;
    double sy = 0.0;
    double sxx = 0.0;
    double sxy = 0.0;
    for (uint32_t p = 0; p < known->point_count; ++p) {
        sx += known->counts[p];
        sy += known->medians[p];
        sxx += known->counts[p] * known->counts[p];
        sxy += known->counts[p] * known->medians[p];
    }
    result->fixed_ns = 0.0;
    result->per_stream_ns = sxx > 0.0 ? sxy / sxx : 0.0;
    const double spread = n * sxx - sx * sx;
    if (known->point_count >= 2 && spread > 0.0) {
        const double slope = (n * sxy - sx * sy) / spread;
        const double intercept = (sy - slope * sx) / n;
        if (slope > 0.0 && intercept >= 0.0) {
            result->per_stream_ns = slope;
            result->fixed_ns = intercept;
        }
    }
}

// The line's processing time for `streams`.
double modelled_ns(const SearchResult* result, uint32_t streams) {
    return result->fixed_ns + result->per_stream_ns * streams;
}

double median_of(const double* values, uint32_t count, double none) {
    double sorted[MAX_POINTS];
    std::copy(values, values + count, sorted);
    std::sort(sorted, sorted + count);
    return count > 0 ? sorted[count / 2] : none;
}

// The count whose tail the line puts at the target share of the period; 0
// before anything was measured.
uint32_t predict(const Knowledge* known, const SearchResult* result, int64_t period_ns) {
    if (result->per_stream_ns <= 0.0) {
        return 0;
    }
    // The median trial's tail and wake-up: one stall in one trial must not
    // pull every prediction down. A period misses when its wake-up and its
    // work together pass its end, so the usual wake-up comes off first
    // (a few percent of the shortest periods, nothing of the longest).
    const double middle = median_of(known->ratios, known->ratio_count, 1.0);
    const double ratio = middle < 1.0 ? 1.0 : middle > 2.0 ? 2.0 : middle;
    const double wake = median_of(known->wakes, known->ratio_count, 0.0);
    const double target = (static_cast<double>(period_ns) * TARGET_SHARE - wake) / ratio;
    const double count = (target - result->fixed_ns) / result->per_stream_ns;
    return count < 1.0 ? 1 : count > 4e9 ? UINT32_MAX : static_cast<uint32_t>(count);
}

// The trial's streams ran this much slower than the line says, or more:
// the machine was slower for a while (a neighbour on the host, the
// frequency), not the count.
constexpr double SLOWED_RATIO = 1.15;

bool ran_slower(const Knowledge* known, const SearchResult* result, uint32_t streams,
                const TrialOutcome* outcome) {
    const int64_t median = histogram_percentile(&outcome->processing, P50);
    const double modelled = modelled_ns(result, streams);
    return known->point_count >= 2 && modelled > 0.0 &&
           static_cast<double>(median) > SLOWED_RATIO * modelled;
}

// The next short trial's count: the prediction while it lies inside what
// is known, then steps out from the last result, doubling while they go
// one way, until one held and one failed, then bisection.
uint32_t next_count(Knowledge* known, uint32_t predicted, uint32_t last, bool last_held) {
    const uint32_t res = resolution(known->low);
    if (predicted > known->low + res && predicted + res < known->high && predicted != last) {
        known->run = 0;
        return predicted;
    }
    if (last > 0) {
        const double share =
            BRACKET_STEP * static_cast<double>(1u << (known->run < 4 ? known->run : 4));
        known->run += 1;
        const auto step = static_cast<uint32_t>(std::ceil(last * share));
        const uint32_t stepped = last_held ? last + step : (last > step ? last - step : 0);
        if (stepped > known->low + res && stepped + res < known->high) {
            return stepped;
        }
    }
    return known->low + (known->high - known->low) / 2;
}

enum ShortVerdict { SHORT_HELD, SHORT_FAILED, SHORT_STALLED, SHORT_STOPPED };

// One short trial at `streams`, repeated while only the system's stalls cut
// it short.
ShortVerdict short_trial(TrialFunction trial, void* context, const SearchPlan* plan,
                         uint32_t streams, Knowledge* known, SearchResult* result) {
    const uint64_t allowed = allowed_misses(plan->short_periods, plan->allowed_miss_fraction);
    TrialRequest request{streams, plan->short_periods, allowed + SHORT_MISS_SLACK, 0, {}};
    TrialOutcome outcome{};
    bool marginal = false;
    for (uint32_t attempt = 0; attempt <= plan->max_repeats; ++attempt) {
        if (result->trials >= plan->max_trials) {
            return SHORT_STOPPED;
        }
        if (!run_trial(trial, context, &request, &outcome, known, result)) {
            return SHORT_STOPPED;
        }
        // One work miss too many is the tail's luck as often as the limit:
        // once, such a count has a second try; the confirm judges it anyway.
        if (work_misses(&outcome) == allowed + 1 && !marginal) {
            marginal = true;
            learn(known, streams, &outcome);
            continue;
        }
        if (work_misses(&outcome) > allowed && attempt < plan->max_repeats &&
            ran_slower(known, result, streams, &outcome)) {
            continue;
        }
        if (work_misses(&outcome) > allowed) {
            learn(known, streams, &outcome);
            return SHORT_FAILED;
        }
        if (outcome.periods == request.periods) {
            learn(known, streams, &outcome);
            return SHORT_HELD;
        }
    }
    return SHORT_STALLED; // its stalls are the system's
}

// The count to confirm after one whose work failed. Its median says how
// fast the streams run now, which may be slower than the short trials saw
// (a neighbour on the host takes the caches or the core's other thread):
// the line scaled to that median is aimed at the target again, with the
// search's tail. A miss or two at the tail only steps down CONFIRM_STEP.
// Never its tail, nor the most streams it finished in every period: those
// are the failing periods' own, and one stall drags them far down.
uint32_t after_failed_confirm(const Knowledge* known, const SearchResult* result, int64_t period_ns,
                              uint32_t candidate) {
    const auto step = static_cast<uint32_t>(std::ceil(candidate * CONFIRM_STEP));
    uint32_t next = candidate > step ? candidate - step : 0;
    const int64_t median = histogram_percentile(&result->confirm.processing, P50);
    const uint32_t predicted = predict(known, result, period_ns);
    if (median > 0 && predicted > 0 && result->confirm.periods >= SHORT_TRIAL_POINTS) {
        const double slower = static_cast<double>(median) / modelled_ns(result, candidate);
        const auto rescaled = static_cast<uint32_t>(static_cast<double>(predicted) / slower);
        const uint32_t floor_count = candidate / 2;
        if (rescaled < next) {
            next = rescaled > floor_count ? rescaled : floor_count;
        }
    }
    return next;
}

// Slowest over fastest time a stream among the trials of at least half the
// count found (fewer streams leave the fixed part too large a share).
double speed_spread(const Knowledge* known, const SearchResult* result, uint32_t count) {
    double fastest = 0.0;
    double slowest = 0.0;
    for (uint32_t p = 0; p < known->speed_count; ++p) {
        if (known->speed_streams[p] * 2.0 < count || known->speed_medians[p] <= result->fixed_ns) {
            continue;
        }
        const double each = (known->speed_medians[p] - result->fixed_ns) / known->speed_streams[p];
        fastest = fastest == 0.0 || each < fastest ? each : fastest;
        slowest = each > slowest ? each : slowest;
    }
    return fastest > 0.0 ? slowest / fastest : 0.0;
}

void search(TrialFunction trial, void* context, const SearchPlan* plan, SearchResult* result,
            Knowledge* knowledge) {
    Knowledge& known = *knowledge;
    uint32_t last = 0;
    bool last_held = true;
    while (known.high - known.low > resolution(known.low)) {
        uint32_t count = last == 0 ? known.low + (known.high - known.low) / 2
                                   : next_count(&known, predict(&known, result, plan->period_ns),
                                                last, last_held);
        ShortVerdict verdict = short_trial(trial, context, plan, count, &known, result);
        if (verdict == SHORT_STOPPED) {
            return;
        }
        const bool held = verdict != SHORT_FAILED;
        known.run = held == last_held ? known.run : 0; // the steps turned: start small again
        last_held = held;
        if (last_held) {
            known.low = count;
        } else {
            known.high = count;
        }
        last = count;
        fit(&known, result);
    }
    // Short trials are too short to show the tail: the first confirm is at
    // the count the line aims at the target, when that is lower.
    const uint32_t aimed = predict(&known, result, plan->period_ns);
    uint32_t candidate = aimed > known.low / 2 && aimed < known.low ? aimed : known.low;
    uint32_t cut_short_at = 0; // the count whose confirm the system's stalls cut short
    while (candidate > 0) {
        if (result->trials >= plan->max_trials || result->confirm_trials >= plan->max_confirms) {
            return;
        }
        const uint64_t allowed = allowed_misses(plan->confirm_periods, plan->allowed_miss_fraction);
        TrialRequest request{candidate, plan->confirm_periods, allowed + CONFIRM_MISS_SLACK, 0, {}};
        request.checkpoint_count = headroom_checkpoints(candidate, request.checkpoints);
        result->confirm_trials += 1;
        result->confirm_streams = candidate;
        if (!run_trial(trial, context, &request, &result->confirm, &known, result)) {
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
        if (work_misses(&result->confirm) <= allowed && cut_short_at != candidate) {
            cut_short_at = candidate;
            continue; // the system's stalls cut it short: the same count once more
        }
        candidate = after_failed_confirm(&known, result, plan->period_ns, candidate);
    }
    // Nothing above the idle system held even a short trial: 0 streams,
    // which the idle run confirmed.
    result->state = SEARCH_CONFIRMED;
    result->confirm_streams = 0;
    result->confirm = TrialOutcome{};
}
} // namespace

uint64_t allowed_misses(uint64_t periods, double fraction) {
    return static_cast<uint64_t>(std::floor(static_cast<double>(periods) * fraction));
}

uint64_t work_misses(const TrialOutcome* outcome) {
    return miss_against_streams(&outcome->misses) + outcome->misses.by_cause[CAUSE_THROTTLED];
}

bool trial_held(const TrialRequest* request, const TrialOutcome* outcome, double fraction) {
    return outcome->periods == request->periods &&
           work_misses(outcome) <= allowed_misses(request->periods, fraction);
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
    auto known = std::make_unique<Knowledge>();
    known->low = 0;
    known->high = plan->upper_bound + 1;
    search(trial, context, plan, result, known.get());
    const uint32_t count = result->sustained > 0 ? result->sustained : result->confirm_streams;
    result->speed_spread = speed_spread(known.get(), result, count > 0 ? count : known->low);
}
