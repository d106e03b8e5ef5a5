// The period grid: period n starts n * frames / rate seconds after the
// origin, computed in integers from the frame count so that a rate such as
// 44100 Hz, whose period is no whole number of nanoseconds, does not drift:
// every start is the exact time rounded down to the nanosecond.
#pragma once

#include <cstdint>

struct PeriodGrid {
    int64_t origin_ns; // start of period 0 on the clock the driver sleeps on
    uint32_t frames;   // samples per period (the buffer size)
    uint32_t rate;     // samples per second
};

int64_t grid_period_start(const PeriodGrid* grid, uint64_t period);

// Length of a period rounded to the nearest nanosecond, for reports.
int64_t grid_period_ns(uint32_t frames, uint32_t rate);

// Periods in `seconds`, rounded up, at least `minimum`.
uint64_t grid_periods_in(double seconds, uint32_t frames, uint32_t rate, uint64_t minimum);
