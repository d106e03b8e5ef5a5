// Where the capacity search's next hold goes, from what the holds before
// it showed: the slowest period of the last (or of its warm-up), the
// host's pauses in it and the failures in a row.
#include "engine/realtime/hold_aim.h"

#include <algorithm>
#include <cmath>

namespace {
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

// `count` times `scale` kept within [LEAST_SCALE, most], and at least 1.
uint32_t scaled_count(uint32_t count, double scale, double most) {
    scale = scale < LEAST_SCALE ? LEAST_SCALE : scale > most ? most : scale;
    const double scaled = std::floor(static_cast<double>(count) * scale);
    return scaled < 1.0 ? 1 : static_cast<uint32_t>(scaled);
}

// The count a hold's slowest period (`slowest_ns`, its busiest thread's
// work) says would just fit: that work less the fixed part scaled into
// what the period leaves after a usual wake-up, within [LEAST_SCALE,
// MOST_GROWTH] of `count`.
uint32_t scaled_by_slowest(const Knowledge* known, const SearchPlan* plan, uint32_t count,
                           int64_t slowest_ns) {
    const double room = static_cast<double>(plan->period_ns - known->usual_late_ns);
    const auto slowest = static_cast<double>(slowest_ns);
    const double scale = slowest > plan->fixed_ns
                             ? AIM_MARGIN * (room - plan->fixed_ns) / (slowest - plan->fixed_ns)
                             : MOST_GROWTH;
    return scaled_count(count, scale, MOST_GROWTH);
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
    return scaled_count(count, AIM_MARGIN * left / (median - plan->fixed_ns), 1.0);
}
} // namespace

uint32_t count_resolution(uint32_t count) {
    const auto finest = static_cast<uint32_t>(static_cast<double>(count) * RESOLUTION_SHARE);
    return finest < 1 ? 1 : finest;
}

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

uint32_t next_count(const Knowledge* known, const SearchPlan* plan, uint32_t low, uint32_t high,
                    uint32_t last, const TrialOutcome* outcome, uint32_t failures, bool paused) {
    uint32_t count = 0;
    if (low > 0 && high <= plan->upper_bound) {
        count = low + (high - low) / 2; // both sides known: halfway
        const HoldLimits* limits = &outcome->shape.limits;
        if (failures == 0 && last == low && (limits->bursts || limits->slow_phases)) {
            // Or less, where the hold that just played showed the load's
            // bursts or slow phases: their periods, at its 99th percentile,
            // leave less room than halfway would need.
            const uint32_t grown = scaled_by_slowest(
                known, plan, low, histogram_percentile(&outcome->processing, P99));
            count = std::min(count, std::max(grown, low + count_resolution(low)));
        }
    } else {
        // A failed hold whose warm-up ran into it has its first periods
        // late: a load whose instances all start on a burst fails there,
        // its counted periods looking light, so the warm-up's work aims
        // (its second slowest, period_loop.h).
        int64_t slowest = outcome->processing.max;
        if (failures > 0 && outcome->warmup_overrun_ns > slowest) {
            slowest = outcome->warmup_overrun_ns;
        }
        // After a pause the count goes where the same pause would not have
        // been heard.
        count = paused ? beside_pause(known, plan, last, outcome)
                       : scaled_by_slowest(known, plan, last, slowest);
        if (low > 0 && count < low + count_resolution(low)) {
            count = low + count_resolution(low); // a played hold always tries higher
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
