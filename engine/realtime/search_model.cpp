#include "engine/realtime/search_model.h"

#include <algorithm>
#include <cmath>

namespace {
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
// A trial's spread tells its median only with this many periods.
constexpr uint64_t SPREAD_MIN_PERIODS = 8;

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
    for (int halving = 0; halving < 60; ++halving) {
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
        const double value = (b + 0.5) / SPREAD_BINS_PER_UNIT;
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
} // namespace

double model_tail(const Knowledge* known, const SearchPlan* plan) {
    return tail_quantile(&known->pool, tail_share(plan)).ratio;
}

// The count whose expected work, times the pooled tail, fills what a usual
// wake-up leaves of the period: where the first hold is aimed. 0 when not
// even one stream does.
uint32_t model_aim(const Knowledge* known, const SearchPlan* plan) {
    const double room = static_cast<double>(plan->period_ns - known->usual_late_ns);
    const double each = (room / model_tail(known, plan) - plan->fixed_ns) / known->per_stream_ns;
    if (!(each >= 1.0) || known->per_stream_ns <= 0.0) {
        return 0;
    }
    const double threads = plan->threads > 0 ? plan->threads : 1;
    const double streams = std::floor(each) * threads;
    return streams >= plan->upper_bound ? plan->upper_bound : static_cast<uint32_t>(streams);
}

MissJudge model_judge(const Knowledge* known, const SearchPlan* plan, uint32_t streams) {
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
void model_learn(Knowledge* known, const SearchPlan* plan, const TrialRequest* request,
                 const TrialOutcome* outcome) {
    const SpreadHistogram* spread = &outcome->spread;
    const double middle = spread_quantile(spread, 0.5);
    if (spread->count < SPREAD_MIN_PERIODS || middle <= 0.0 || request->streams == 0) {
        return;
    }
    SpreadHistogram* pool = &known->pool;
    for (uint32_t b = 0; b < SPREAD_BINS; ++b) {
        const double bin = (b + 0.5) / middle;
        const uint32_t into = bin >= SPREAD_BINS ? SPREAD_BINS - 1 : static_cast<uint32_t>(bin);
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
double model_speed_spread(const Knowledge* known, const SearchPlan* plan, uint32_t count) {
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

bool model_pooled(const Knowledge* known) {
    return static_cast<double>(known->pool.count) * TAIL_SHARE >= TAIL_MIN_POINTS;
}

std::unique_ptr<Knowledge> model_start(const SearchPlan* plan) {
    auto known = std::make_unique<Knowledge>();
    *known = Knowledge{};
    known->per_stream_ns = plan->per_stream_ns;
    known->usual_late_ns = plan->usual_late_ns;
    return known;
}
