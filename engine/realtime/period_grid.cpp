#include "engine/realtime/period_grid.h"

#include <cmath>

namespace {
constexpr uint64_t NS_PER_SECOND = 1000000000;
}

int64_t grid_period_start(const PeriodGrid* grid, uint64_t period) {
    uint64_t frames = period * grid->frames;
    uint64_t seconds = frames / grid->rate;
    uint64_t rest = frames % grid->rate;
    return grid->origin_ns + static_cast<int64_t>(seconds * NS_PER_SECOND) +
           static_cast<int64_t>(rest * NS_PER_SECOND / grid->rate);
}

int64_t grid_period_ns(uint32_t frames, uint32_t rate) {
    uint64_t scaled = uint64_t{frames} * NS_PER_SECOND;
    return static_cast<int64_t>((scaled + rate / 2) / rate);
}

uint64_t grid_periods_in(double seconds, uint32_t frames, uint32_t rate, uint64_t minimum) {
    double periods = std::ceil(seconds * rate / frames);
    auto count = periods < 1.0 ? uint64_t{1} : static_cast<uint64_t>(periods);
    return count < minimum ? minimum : count;
}
