#include "engine/realtime/capacity_search.h"

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
constexpr uint32_t MAX_SHORT_TRIALS = 16;
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
// A period this far past the tail the model expects at its count (5 %
// past the confirm's own) is a pause of the machine or a slower spell, not
// the work: for an exponential tail of the 0.5 to 3 % widths seen here it
// is at least five times rarer than the tail itself, and a pause of this
// host is 1 ms and more.
constexpr double PAUSE_MARGIN = 1.05;
// The count's resolution is this many standard errors of the tail: one
// search in some 4,000 reports more than it knows (none of 5,000
// simulated machines did).
constexpr double RES_SIGMAS = 3.5;
// Pauses of the host here come a few times a minute, under 1 % of the
// periods even at 64 samples: a trial with this share of its periods far
// past the tail ran partly at another speed.
constexpr double SLOW_SHARE = 0.05;
// A trial's spread tells its median only with this many periods.
constexpr uint64_t SPREAD_MIN_PERIODS = 8;
constexpr uint32_t MAX_POINTS = 64;

uint32_t resolution(uint32_t count) {
    uint32_t step = count / 200;
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
    double within_swing; // the largest speed change seen inside one trial (1: none)
};

uint32_t per_thread(uint32_t streams, uint32_t threads) {
    return threads > 1 ? (streams + threads - 1) / threads : streams;
}

double median_of(const double* values, uint32_t count, double none) {
    double sorted[MAX_POINTS];
    std::copy(values, values + count, sorted);
    std::sort(sorted, sorted + count);
    return count > 0 ? sorted[count / 2] : none;
}

// The expected work of the busiest thread at `streams`.
double expected_ns(const Knowledge* known, const SearchPlan* plan, uint32_t streams) {
    return plan->fixed_ns + known->per_stream_ns * per_thread(streams, plan->threads);
}

// The share of periods a confirm may see over its tail: with up to m
// misses allowed in N periods of T threads, a miss chance p a period and
// thread with P(Poisson(N·T·p) <= m) = CONFIRM_ODDS.
double tail_share(const SearchPlan* plan) {
    const auto allowed =
        static_cast<double>(allowed_misses(plan->confirm_periods, plan->allowed_miss_fraction));
    const double draws = static_cast<double>(plan->confirm_periods) *
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

// The count the model gives a probability of CONFIRM_ODDS to hold a whole
// confirm: the busiest thread's expected work times the tail fills what a
// usual wake-up leaves of the period. 0 when not even one stream does.
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
    judge.pause_ns = static_cast<int64_t>(expected * tail_at(known, plan) * PAUSE_MARGIN);
    judge.near_throttle =
        plan->throttle_share > 0.0 && plan->throttle_share < 1.0 &&
        expected >= 0.9 * plan->throttle_share * static_cast<double>(plan->period_ns);
    return judge;
}

// The trial's periods join the pool over their own median, and its median
// work corrects b.
void learn(Knowledge* known, const SearchPlan* plan, const TrialRequest* request,
           const TrialOutcome* outcome) {
    const SpreadHistogram* spread = &outcome->spread;
    const double middle = spread_quantile(spread, 0.5);
    if (spread->count < SPREAD_MIN_PERIODS || middle <= 0.0 || request->streams == 0) {
        return;
    }
    // A quarter of its periods or more ran at another speed than the rest:
    // the machine changed speed during the trial, and its periods are two
    // machines' spreads, not one.
    const double lower = spread_quantile(spread, 0.25);
    const double within = lower > 0.0 ? spread_quantile(spread, 0.75) / lower : 1.0;
    known->within_swing = within > known->within_swing ? within : known->within_swing;
    if (within >= SPEED_SPREAD_NOTE) {
        return;
    }
    // Periods far past the tail over the trial's own median join no pool:
    // pauses, or the edge of a slow spell. When they are many, the machine
    // changed speed, by about the middle of them over the median.
    const double far = tail_at(known, plan) * PAUSE_MARGIN * middle;
    uint64_t beyond = spread->above;
    SpreadHistogram* pool = &known->pool;
    for (uint32_t b = 0; b < SPREAD_BINS; ++b) {
        const double step = (b + 0.5) / middle;
        if ((b + 0.5) / SPREAD_STEPS > far || step >= SPREAD_BINS) {
            beyond += spread->bins[b];
        } else {
            pool->bins[static_cast<uint32_t>(step)] += spread->bins[b];
            pool->count += spread->bins[b];
        }
    }
    const double share = static_cast<double>(beyond) / static_cast<double>(spread->count);
    if (share >= SLOW_SHARE) {
        const double slow = spread_quantile(spread, 1.0 - share / 2.0) / middle;
        known->within_swing = slow > known->within_swing ? slow : known->within_swing;
    }
    if (known->point_count < MAX_POINTS) {
        known->counts[known->point_count] = per_thread(request->streams, plan->threads);
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
    const double least = per_thread(count, plan->threads) / 2.0;
    for (uint32_t p = 0; p < known->point_count; ++p) {
        if (known->counts[p] < least || known->medians[p] <= plan->fixed_ns) {
            continue;
        }
        const double each = (known->medians[p] - plan->fixed_ns) / known->counts[p];
        fastest = fastest == 0.0 || each < fastest ? each : fastest;
        slowest = each > slowest ? each : slowest;
    }
    const double between = fastest > 0.0 ? slowest / fastest : 0.0;
    return between > known->within_swing ? between : known->within_swing;
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

// Short trials at the model's aim, run whole whatever they miss: they
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
        TrialRequest request{
            count, plan->short_periods, UINT64_MAX, judge_for(known, plan, count), 0, {}};
        if (!run_trial(trial, context, &request, outcome.get(), result)) {
            return false;
        }
        learn(known, plan, &request, outcome.get());
        last = count;
    }
    return true;
}

void search(TrialFunction trial, void* context, const SearchPlan* plan, SearchResult* result,
            Knowledge* known) {
    if (plan->upper_bound == 0 || !measure(trial, context, plan, known, result)) {
        return;
    }
    const uint64_t allowed = allowed_misses(plan->confirm_periods, plan->allowed_miss_fraction);
    uint32_t low = 0;                       // the largest count held
    uint32_t high = plan->upper_bound + 1u; // the smallest that failed, or past the bound
    auto outcome = std::make_unique<TrialOutcome>();
    result->end = END_CONFIRMS;
    while (result->trials < plan->max_trials && result->confirm_trials < plan->max_confirms) {
        const uint32_t aimed = aim(known, plan);
        if (low > 0 && aimed <= low + resolution(low) - 1) {
            result->end = END_MODEL;
            break;
        }
        if (high - low <= resolution(low)) {
            result->end = low == plan->upper_bound ? END_CEILING : END_MET;
            break;
        }
        uint32_t count = aimed;
        if (aimed == 0 && low == 0) {
            count = 1; // the model sees not one stream fit: the least there is
        } else if (count >= high || count <= low) {
            // The model points outside the bounds: halfway, and with nothing
            // held yet halfway to a tenth below the count that failed.
            const uint32_t floor_count = low > 0 ? low : high - high / 10;
            count = floor_count + (high - floor_count) / 2;
        }
        count = count < 1 ? 1 : count;
        TrialRequest request{
            count, plan->confirm_periods, allowed, judge_for(known, plan, count), 0, {}};
        request.checkpoint_count = headroom_checkpoints(count, request.checkpoints);
        result->confirm_trials += 1;
        if (!run_trial(trial, context, &request, outcome.get(), result)) {
            result->confirm = *outcome;
            result->confirm_streams = count;
            return;
        }
        learn(known, plan, &request, outcome.get());
        if (trial_held(&request, outcome.get(), plan->allowed_miss_fraction)) {
            low = count;
            result->confirm = *outcome;
            result->confirm_streams = count;
            result->headroom = checkpoint_within(&request, outcome.get(), plan->period_ns,
                                                 HEADROOM_PERCENT, count + 1);
        } else {
            high = count;
            result->failed_at = count;
            if (low == 0) {
                result->confirm = *outcome;
                result->confirm_streams = count;
            }
        }
    }
    // A count that held against the model's odds held by luck: what all
    // the periods now say holds is reported, and it held too, being fewer.
    const uint32_t aimed = aim(known, plan);
    result->sustained = aimed > 0 && aimed < low ? aimed : low;
    result->headroom = result->headroom < result->sustained ? result->headroom : result->sustained;
    result->state = low > 0 ? SEARCH_CONFIRMED : SEARCH_NOT_CONFIRMED;
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

MissJudge first_judge(const SearchPlan* plan, uint32_t streams) {
    auto known = std::make_unique<Knowledge>();
    *known = Knowledge{};
    known->per_stream_ns = plan->per_stream_ns;
    known->usual_late_ns = plan->usual_late_ns;
    return judge_for(known.get(), plan, streams);
}

void search_capacity(TrialFunction trial, void* context, const SearchPlan* plan,
                     SearchResult* result) {
    *result = SearchResult{};
    result->state = SEARCH_NOT_CONFIRMED;
    auto known = std::make_unique<Knowledge>();
    *known = Knowledge{};
    known->per_stream_ns = plan->per_stream_ns;
    known->usual_late_ns = plan->usual_late_ns;
    search(trial, context, plan, result, known.get());
    result->fixed_ns = plan->fixed_ns;
    result->per_stream_ns = known->per_stream_ns;
    const Tail tail = tail_quantile(&known->pool, tail_share(plan));
    result->tail_ratio = tail.ratio;
    // What the count is known to: the bisection's step, or the tail's
    // error carried into streams, whichever is wider.
    const double statistical =
        result->sustained * RES_SIGMAS * tail.error / (tail.ratio > 0.0 ? tail.ratio : 1.0);
    const uint32_t step = resolution(result->sustained);
    result->resolution = statistical > step ? static_cast<uint32_t>(std::ceil(statistical)) : step;
    const uint32_t count = result->sustained > 0 ? result->sustained : result->confirm_streams;
    result->speed_spread = speed_spread(known.get(), plan, count);
}
