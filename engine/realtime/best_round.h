// The offline timings' rounds, for the kernels alone and for a chain of
// plugins alike: a unit of work run again and again for at least a round's
// length, the clock read only between groups of units, and the fastest
// round's mean kept, so that one stall of the machine spoils one round.
#pragma once

#include <cstdint>

struct RoundPlan {
    int64_t (*now_ns)();
    uint32_t warmup_rounds;     // run first and not counted
    uint32_t rounds;            // counted
    int64_t round_ns;           // each round at least this long
    uint32_t units_per_reading; // enough that reading the clock costs nothing next to them
    uint64_t unit_size;         // what a unit counts for: its samples, or 1 to time a unit
};

// The fastest counted round's time over what its units count for, in
// nanoseconds (0 when none is counted); adds the counted rounds' units to
// `timed_units`.
template <typename Unit>
double best_round_ns(const RoundPlan* plan, Unit unit, uint64_t* timed_units) {
    double best = 0.0;
    for (uint32_t r = 0; r < plan->warmup_rounds + plan->rounds; ++r) {
        uint64_t units = 0;
        const int64_t start = plan->now_ns();
        int64_t elapsed = 0;
        do {
            for (uint32_t u = 0; u < plan->units_per_reading; ++u) {
                unit();
            }
            units += plan->units_per_reading;
            elapsed = plan->now_ns() - start;
        } while (elapsed < plan->round_ns);
        if (r < plan->warmup_rounds) {
            continue;
        }
        *timed_units += units;
        const double mean =
            static_cast<double>(elapsed) / static_cast<double>(units * plan->unit_size);
        if (r == plan->warmup_rounds || mean < best) {
            best = mean;
        }
    }
    return best;
}
