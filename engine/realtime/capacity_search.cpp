#include "engine/realtime/capacity_search.h"

#include "engine/realtime/period_driver.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
// Percent of the count at each headroom checkpoint.
constexpr uint32_t CHECKPOINT_PERCENT[MAX_CHECKPOINTS] = {25, 40, 50, 60, 65, 70, 75, 80,
                                                          85, 90, 93, 95, 97, 98, 99, 100};
// Short trials end once the model's aim moves by less than this between
// two of them and the pool can show its tail (TAIL_MIN_POINTS over
// TAIL_SHARE periods), or after MAX_SHORT_TRIALS: a quarter of a second
// each (16 periods at least), they teach b and the spread.
constexpr double SETTLED_SHARE = 0.02;
constexpr uint32_t MAX_SHORT_TRIALS = 5;
// Before any period was measured the tail is taken at this: the worst of
// a few seconds of a ZEM test here lies 5 to 20 % over its median.
constexpr double PRIOR_TAIL = 1.2;
// The pooled spread is read empirically up to its last 30 %; beyond it an
// exponential fitted to that part's excess carries the tail out to the
// confirm's odds. A wider part than the usual tenth gives three times the
// periods to fit, so the tail is known about a third better from the
// same seconds; on a lighter tail than the exponential it errs high,
// towards fewer streams. Fewer than TAIL_MIN_POINTS periods in it (a pool
// of under 67) leave the prior.
constexpr double TAIL_SHARE = 0.3;
constexpr double TAIL_MIN_POINTS = 20.0;
// A hold's slowest period aims the next hold: a failed one's count is cut
// at most to this share, and a played one's raised by at most this much.
constexpr double LEAST_SCALE = 0.15;
constexpr double MOST_GROWTH = 2.0;
// A failed hold cuts the count by this share at least, doubled with each
// failure in a row: a miss that its slowest period does not show (a late
// wake-up, a period started behind the one before) still moves the search.
constexpr double FAILED_CUT = 0.04;
// A missed period the host's pause explains ran, or woke, at least this
// far past the hold's 90th percentile (the host's pauses here last 1 to 14
// ms), and a quarter of its median work: a miss the count causes lies just
// past the room instead.
constexpr int64_t PAUSE_LIFT_NS = 1000000;
// A hold that failed sooner than this cannot have shown the load's own
// bursts recurring (three at 400 ms), so its misses may be theirs.
constexpr double PAUSE_EVIDENCE_NS = 1.2e9;
// A hold whose median lies this far over what the trials before it expected
// ran in a slower stretch of the machine's, whatever its misses look like.
constexpr double SAME_SPEED = 1.1;
// Aimed a little inside what the slowest period leaves, so that the same
// periods again would fit.
constexpr double AIM_MARGIN = 0.98;
// A trial's spread tells its median only with this many periods.
constexpr uint64_t SPREAD_MIN_PERIODS = 8;
constexpr uint32_t MAX_POINTS = 64;

uint32_t resolution(uint32_t count) {
    const auto step = static_cast<uint32_t>(static_cast<double>(count) * HOLD_STEP);
    return step < 1 ? 1 : step;
}

// What the trials have shown.
struct Knowledge {
    double per_stream_ns;  // b
    int64_t usual_late_ns; // the median of the trials' median wake-ups
    SpreadHistogram pool;  // X: every trial's periods over their own median
    uint32_t point_count;  // each trial's streams a thread and median work
    double counts[MAX_POINTS];
    double medians[MAX_POINTS];
    uint32_t late_count;
    double lates[MAX_POINTS];
};

double median_of(const double* values, uint32_t count, double none) {
    double sorted[MAX_POINTS];
    std::copy(values, values + count, sorted);
    std::sort(sorted, sorted + count);
    return count > 0 ? sorted[count / 2] : none;
}

// The expected work of the busiest thread at `streams`.
double expected_ns(const Knowledge* known, const SearchPlan* plan, uint32_t streams) {
    return plan->fixed_ns + known->per_stream_ns * thread_share(streams, plan->threads, 0);
}

// The share of periods a hold may see over its tail: with up to m misses
// allowed in N periods of T threads, a miss chance p a period and thread
// with P(Poisson(N·T·p) <= m) = CONFIRM_ODDS.
double tail_share(const SearchPlan* plan) {
    const auto allowed = static_cast<double>(
        hold_allowance(&plan->idle, plan->hold_periods, plan->allowed_miss_fraction));
    const double draws = static_cast<double>(plan->hold_periods) *
                         static_cast<double>(plan->threads > 0 ? plan->threads : 1);
    double low = 0.0;
    double high = allowed + 50.0;
    for (int step = 0; step < 60; ++step) {
        const double mean = (low + high) / 2.0;
        double term = std::exp(-mean);
        double held = term;
        for (double m = 1.0; m <= allowed; m += 1.0) {
            term *= mean / m;
            held += term;
        }
        (held > CONFIRM_ODDS ? low : high) = mean;
    }
    return draws > 0.0 ? low / draws : 1.0;
}

// X at 1 - share, and its standard error: the pool's own where it holds
// enough periods beyond, else the exponential fitted to its last
// TAIL_SHARE carried out. The error is the fitted excess's (its mean is
// known to one over the root of the periods beyond) times the distance
// it is carried.
struct Tail {
    double ratio;
    double error;
};

Tail tail_quantile(const SpreadHistogram* pool, double share) {
    const auto count = static_cast<double>(pool->count);
    if (count * TAIL_SHARE < TAIL_MIN_POINTS) {
        return Tail{PRIOR_TAIL, 0.0};
    }
    if (count * share >= TAIL_MIN_POINTS || share >= TAIL_SHARE) {
        return Tail{spread_quantile(pool, 1.0 - share), 0.0};
    }
    const double threshold = spread_quantile(pool, 1.0 - TAIL_SHARE);
    double excess = 0.0;
    double beyond = 0.0;
    for (uint32_t b = 0; b < SPREAD_BINS; ++b) {
        const double value = (b + 0.5) / SPREAD_STEPS;
        if (value > threshold && pool->bins[b] > 0) {
            excess += pool->bins[b] * (value - threshold);
            beyond += pool->bins[b];
        }
    }
    excess += static_cast<double>(pool->above) * (SPREAD_TOP - threshold);
    beyond += static_cast<double>(pool->above);
    const double mean_excess = beyond > 0.0 ? excess / beyond : 0.0;
    const double carried = std::log(TAIL_SHARE / share);
    const double error = beyond > 0.0 ? mean_excess * carried / std::sqrt(beyond) : 0.0;
    return Tail{threshold + mean_excess * carried, error};
}

double tail_at(const Knowledge* known, const SearchPlan* plan) {
    return tail_quantile(&known->pool, tail_share(plan)).ratio;
}

// The count whose expected work, times the pooled tail, fills what a usual
// wake-up leaves of the period: where the first hold is aimed. 0 when not
// even one stream does.
uint32_t aim(const Knowledge* known, const SearchPlan* plan) {
    const double room = static_cast<double>(plan->period_ns - known->usual_late_ns);
    const double each = (room / tail_at(known, plan) - plan->fixed_ns) / known->per_stream_ns;
    if (!(each >= 1.0) || known->per_stream_ns <= 0.0) {
        return 0;
    }
    const double threads = plan->threads > 0 ? plan->threads : 1;
    const double streams = std::floor(each) * threads;
    return streams >= plan->upper_bound ? plan->upper_bound : static_cast<uint32_t>(streams);
}

MissJudge judge_for(const Knowledge* known, const SearchPlan* plan, uint32_t streams) {
    MissJudge judge{};
    judge.period_ns = plan->period_ns;
    judge.usual_late_ns = known->usual_late_ns;
    const double expected = expected_ns(known, plan, streams);
    judge.expected_ns = static_cast<int64_t>(expected);
    judge.near_throttle =
        plan->throttle_share > 0.0 && plan->throttle_share < 1.0 &&
        expected >= 0.9 * plan->throttle_share * static_cast<double>(plan->period_ns);
    return judge;
}

// The trial's periods join the pool over their own median, and its median
// work corrects b. The pool only aims the first hold.
void learn(Knowledge* known, const SearchPlan* plan, const TrialRequest* request,
           const TrialOutcome* outcome) {
    const SpreadHistogram* spread = &outcome->spread;
    const double middle = spread_quantile(spread, 0.5);
    if (spread->count < SPREAD_MIN_PERIODS || middle <= 0.0 || request->streams == 0) {
        return;
    }
    SpreadHistogram* pool = &known->pool;
    for (uint32_t b = 0; b < SPREAD_BINS; ++b) {
        const double step = (b + 0.5) / middle;
        const uint32_t into = step >= SPREAD_BINS ? SPREAD_BINS - 1 : static_cast<uint32_t>(step);
        pool->bins[into] += spread->bins[b];
        pool->count += spread->bins[b];
    }
    pool->above += spread->above;
    pool->count += spread->above;
    if (known->point_count < MAX_POINTS) {
        known->counts[known->point_count] = thread_share(request->streams, plan->threads, 0);
        known->medians[known->point_count] =
            middle * static_cast<double>(request->judge.expected_ns);
        known->point_count += 1;
    }
    // A trial that overran much starts its periods late behind each other:
    // its wake-ups say nothing of the usual one.
    if (known->late_count < MAX_POINTS && outcome->missed * 10 <= outcome->periods) {
        known->lates[known->late_count++] =
            static_cast<double>(histogram_percentile(&outcome->lateness, P50));
        known->usual_late_ns = static_cast<int64_t>(
            median_of(known->lates, known->late_count, static_cast<double>(plan->usual_late_ns)));
    }
    // b by least squares through the fixed part: no free intercept.
    double work = 0.0;
    double squares = 0.0;
    for (uint32_t p = 0; p < known->point_count; ++p) {
        work += known->counts[p] * (known->medians[p] - plan->fixed_ns);
        squares += known->counts[p] * known->counts[p];
    }
    if (squares > 0.0 && work > 0.0) {
        known->per_stream_ns = work / squares;
    }
}

// Slowest over fastest time a stream among the trials of at least half the
// count (fewer streams leave the fixed part too large a share).
double speed_spread(const Knowledge* known, const SearchPlan* plan, uint32_t count) {
    double fastest = 0.0;
    double slowest = 0.0;
    const double least = thread_share(count, plan->threads, 0) / 2.0;
    for (uint32_t p = 0; p < known->point_count; ++p) {
        if (known->counts[p] < least || known->medians[p] <= plan->fixed_ns) {
            continue;
        }
        const double each = (known->medians[p] - plan->fixed_ns) / known->counts[p];
        fastest = fastest == 0.0 || each < fastest ? each : fastest;
        slowest = each > slowest ? each : slowest;
    }
    return fastest > 0.0 ? slowest / fastest : 0.0;
}

bool run_trial(TrialFunction trial, void* context, TrialRequest* request, TrialOutcome* outcome,
               SearchResult* result) {
    result->trials += 1;
    result->largest_tried =
        request->streams > result->largest_tried ? request->streams : result->largest_tried;
    *outcome = TrialOutcome{};
    const bool finished = trial(context, request, outcome);
    miss_counts_add(&result->misses, &outcome->misses);
    result->periods += outcome->periods;
    if (!finished) {
        result->state = SEARCH_INTERRUPTED;
        result->end = END_NONE;
    }
    return finished;
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
    return TrialRequest{count,      plan->warmup_periods,          plan->short_periods,
                        UINT64_MAX, judge_for(known, plan, count), 0,
                        {}};
}

// Short probes at the model's aim, run whole whatever they miss: they
// measure; until the aim settles.
bool measure(TrialFunction trial, void* context, const SearchPlan* plan, Knowledge* known,
             SearchResult* result) {
    uint32_t last = 0;
    auto outcome = std::make_unique<TrialOutcome>();
    for (uint32_t s = 0; s < MAX_SHORT_TRIALS && result->trials < plan->max_trials; ++s) {
        uint32_t count = aim(known, plan);
        count = count < 1 ? 1 : count;
        const bool pooled = static_cast<double>(known->pool.count) * TAIL_SHARE >= TAIL_MIN_POINTS;
        if (s > 0 && pooled &&
            std::fabs(static_cast<double>(count) - last) <= last * SETTLED_SHARE) {
            break;
        }
        TrialRequest request = probe_request(known, plan, count);
        if (!run_trial(trial, context, &request, outcome.get(), result)) {
            return false;
        }
        learn(known, plan, &request, outcome.get());
        last = count;
    }
    return true;
}

// The count a hold's slowest period says would just fit: its busiest
// thread's work less the fixed part scaled into what the period leaves
// after a usual wake-up, within [LEAST_SCALE, MOST_GROWTH] of `count`.
uint32_t scaled_by_slowest(const Knowledge* known, const SearchPlan* plan, uint32_t count,
                           const TrialOutcome* outcome) {
    const double room = static_cast<double>(plan->period_ns - known->usual_late_ns);
    const auto slowest = static_cast<double>(outcome->processing.max);
    double scale = slowest > plan->fixed_ns
                       ? AIM_MARGIN * (room - plan->fixed_ns) / (slowest - plan->fixed_ns)
                       : MOST_GROWTH;
    scale = scale < LEAST_SCALE ? LEAST_SCALE : scale > MOST_GROWTH ? MOST_GROWTH : scale;
    const double scaled = std::floor(static_cast<double>(count) * scale);
    return scaled < 1.0 ? 1 : static_cast<uint32_t>(scaled);
}

// Every miss of a failed hold lies far past its usual periods, at no
// rhythm of the load's own and at the speed expected: the host paused it.
// The hold still failed; only its slowest period says nothing of what the
// count costs.
bool struck_by_pauses(const TrialRequest* request, const TrialOutcome* outcome) {
    const HoldLimits* limits = &outcome->shape.limits;
    const int64_t median = histogram_percentile(&outcome->processing, P50);
    const auto slowed = static_cast<double>(request->judge.expected_ns) * SAME_SPEED;
    const double ran =
        static_cast<double>(outcome->periods) * static_cast<double>(request->judge.period_ns);
    if (outcome->missed == 0 || outcome->mark_count < outcome->missed || ran < PAUSE_EVIDENCE_NS ||
        limits->bursts || limits->slow_phases || static_cast<double>(median) > slowed) {
        return false;
    }
    const int64_t lift = std::max(PAUSE_LIFT_NS, median / 4);
    const int64_t work = histogram_percentile(&outcome->processing, P90) + lift;
    const int64_t late = histogram_percentile(&outcome->lateness, P90) + lift;
    for (uint32_t m = 0; m < outcome->mark_count; ++m) {
        if (outcome->marks[m].processing_ns < work && outcome->marks[m].lateness_ns < late) {
            return false;
        }
    }
    return true;
}

// The count whose median period would still have fitted beside the
// hold's longest pause (in its work or its wake-up), within
// [LEAST_SCALE, 1] of `count`; `count` itself when no count would have: a
// pause longer than the period fails every count alike.
uint32_t beside_pause(const Knowledge* known, const SearchPlan* plan, uint32_t count,
                      const TrialOutcome* outcome) {
    const auto median = static_cast<double>(histogram_percentile(&outcome->processing, P50));
    const auto woke = static_cast<double>(histogram_percentile(&outcome->lateness, P50));
    const double pause = std::max(static_cast<double>(outcome->processing.max) - median,
                                  static_cast<double>(outcome->lateness.max) - woke);
    const double left =
        static_cast<double>(plan->period_ns - known->usual_late_ns) - pause - plan->fixed_ns;
    if (left <= 0.0 || median <= plan->fixed_ns) {
        return count;
    }
    double scale = AIM_MARGIN * left / (median - plan->fixed_ns);
    scale = scale < LEAST_SCALE ? LEAST_SCALE : scale > 1.0 ? 1.0 : scale;
    const double scaled = std::floor(static_cast<double>(count) * scale);
    return scaled < 1.0 ? 1 : static_cast<uint32_t>(scaled);
}

// Where the next hold goes, given the largest count that played (`low`, 0:
// none) and the smallest that failed (`high`, past the bound: none), and
// how many holds in a row failed.
uint32_t next_count(const Knowledge* known, const SearchPlan* plan, uint32_t low, uint32_t high,
                    uint32_t last, const TrialOutcome* outcome, uint32_t failures, bool paused) {
    uint32_t count = 0;
    if (low > 0 && high <= plan->upper_bound) {
        count = low + (high - low) / 2; // both sides known: halfway
    } else {
        // After a pause the count goes where the same pause would not have
        // been heard.
        count = paused ? beside_pause(known, plan, last, outcome)
                       : scaled_by_slowest(known, plan, last, outcome);
        if (low > 0 && count < low + resolution(low)) {
            count = low + resolution(low); // a played hold always tries higher
        }
        if (failures > 0) {
            const double cut = std::min(0.5, FAILED_CUT * std::pow(2.0, failures - 1.0));
            const auto most = static_cast<uint32_t>(static_cast<double>(last) * (1.0 - cut));
            count = std::min(count, most);
        }
    }
    count = count >= high ? high - 1 : count;
    count = count <= low ? low + 1 : count;
    return count > plan->upper_bound ? plan->upper_bound : count;
}

TrialRequest hold_request(const Knowledge* known, const SearchPlan* plan, uint32_t count) {
    TrialRequest request{
        count,
        plan->warmup_periods,
        plan->hold_periods,
        hold_allowance(&plan->idle, plan->hold_periods, plan->allowed_miss_fraction),
        judge_for(known, plan, count),
        0,
        {}};
    request.checkpoint_count = headroom_checkpoints(count, request.checkpoints);
    return request;
}

bool played(const SearchPlan* plan, const TrialRequest* request, const TrialOutcome* outcome) {
    return hold_plays(&plan->idle, request->periods, outcome->periods, outcome->missed,
                      plan->allowed_miss_fraction);
}

void search(TrialFunction trial, void* context, const SearchPlan* plan, SearchResult* result,
            Knowledge* known) {
    if (plan->upper_bound == 0 || !measure(trial, context, plan, known, result)) {
        return;
    }
    result->tail_ratio = tail_at(known, plan);
    uint32_t low = 0;                       // the largest count that played
    uint32_t high = plan->upper_bound + 1u; // the smallest that failed, or past the bound
    uint32_t count = aim(known, plan);
    count = count < 1 ? 1 : count;
    auto outcome = std::make_unique<TrialOutcome>();
    result->end = END_HOLDS;
    uint32_t failures = 0;  // holds failed in a row
    uint32_t below = 0;     // the largest count that played below `low`
    bool again = false;     // this hold runs `low` a second time
    bool low_twice = false; // `low` played twice
    while (result->trials < plan->max_trials && result->holds < plan->max_holds &&
           result->played_holds < plan->max_played) {
        TrialRequest request = hold_request(known, plan, count);
        result->holds += 1;
        if (!run_trial(trial, context, &request, outcome.get(), result)) {
            result->hold = *outcome;
            result->hold_streams = count;
            return;
        }
        const bool plays = played(plan, &request, outcome.get());
        const bool paused = !plays && struck_by_pauses(&request, outcome.get());
        learn(known, plan, &request, outcome.get());
        if (plays) {
            low_twice = again;
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
            }
            high = count;
            failures += 1;
            result->failed_at = count;
            if (low == 0) {
                result->hold = *outcome;
                result->hold_streams = count;
            }
        }
        again = false;
        if (low == plan->upper_bound) {
            result->end = END_CEILING;
            break;
        }
        const bool met = high == 1 || (low > 0 && high - low <= resolution(low));
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
    const uint32_t step = resolution(result->plays);
    const uint32_t gap = result->failed_at > result->plays && result->plays > 0
                             ? result->failed_at - result->plays
                             : step;
    result->resolution = gap > step ? gap : step;
    const uint32_t count = result->plays > 0 ? result->plays : result->hold_streams;
    result->speed_spread = speed_spread(known, plan, count);
    const int64_t room = plan->period_ns - known->usual_late_ns;
    result->median_fits =
        median_fits(&result->hold.shape, thread_share(result->hold_streams, plan->threads, 0),
                    plan->threads, plan->fixed_ns, room);
}

std::unique_ptr<Knowledge> first_knowledge(const SearchPlan* plan) {
    auto known = std::make_unique<Knowledge>();
    *known = Knowledge{};
    known->per_stream_ns = plan->per_stream_ns;
    known->usual_late_ns = plan->usual_late_ns;
    return known;
}
} // namespace

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
    std::unique_ptr<Knowledge> known = first_knowledge(plan);
    search(trial, context, plan, result, known.get());
    finish(plan, known.get(), result);
}

void hold_fixed(TrialFunction trial, void* context, const SearchPlan* plan, uint32_t streams,
                SearchResult* result) {
    *result = SearchResult{};
    std::unique_ptr<Knowledge> known = first_knowledge(plan);
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
    learn(known.get(), plan, &probe, outcome.get());
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
