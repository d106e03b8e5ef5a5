#include "engine/realtime/hold_rule.h"

#include <cmath>

namespace {
// The smallest m with P(Poisson(mean) <= m) >= ALLOWANCE_QUANTILE.
uint64_t poisson_quantile(double mean) {
    if (!(mean > 0.0)) {
        return 0;
    }
    double term = std::exp(-mean);
    double below = term;
    uint64_t m = 0;
    // Far out the terms underflow; the normal approximation is then exact enough.
    if (term == 0.0) {
        return static_cast<uint64_t>(std::ceil(mean + 1.2816 * std::sqrt(mean)));
    }
    while (below < ALLOWANCE_QUANTILE) {
        m += 1;
        term *= mean / static_cast<double>(m);
        below += term;
    }
    return m;
}

// P(Poisson(mean) >= m).
double poisson_at_least(double mean, uint64_t m) {
    double term = std::exp(-mean);
    double below = 0.0;
    for (uint64_t k = 0; k < m && term > 0.0; ++k) {
        below += term;
        term *= mean / static_cast<double>(k + 1);
    }
    if (term == 0.0 && below == 0.0) { // the mean too far out for the terms: the normal
        return static_cast<double>(m) <= mean
                   ? 1.0
                   : 0.5 * std::erfc((static_cast<double>(m) - mean) / std::sqrt(2.0 * mean));
    }
    return below >= 1.0 ? 0.0 : 1.0 - below;
}
} // namespace

uint64_t hold_allowance(const IdleFloor* idle, uint64_t periods, double fraction) {
    const double mean = idle->periods > 0
                            ? static_cast<double>(idle->missed) * static_cast<double>(periods) /
                                  static_cast<double>(idle->periods)
                            : 0.0;
    const uint64_t from_idle = poisson_quantile(mean);
    const auto asked = static_cast<uint64_t>(std::floor(static_cast<double>(periods) * fraction));
    return asked > from_idle ? asked : from_idle;
}

bool hold_plays(const IdleFloor* idle, uint64_t asked, uint64_t ran, uint64_t missed,
                double fraction) {
    return asked > 0 && ran == asked && missed <= hold_allowance(idle, asked, fraction);
}

bool idle_sustainable(uint64_t asked, uint64_t ran, uint64_t missed, double limit) {
    return ran == asked && (missed == 0 || poisson_at_least(limit * static_cast<double>(asked),
                                                            missed) >= IDLE_GATE_ODDS);
}
