// Histogram of durations in nanoseconds, for wake-up lateness and processing
// time. Bins are exact below 64 ns and then 32 to each power of two (each at
// most 1/32 of its values wide), up to 2^36 ns (68.7 s); longer values go to
// the overflow bin. The smallest and largest values are kept exactly, so the
// maximum reported is never a bin edge.
#pragma once

#include <cstdint>

constexpr uint32_t HISTOGRAM_SUB_BITS = 5;
constexpr uint32_t HISTOGRAM_EXACT = 64;   // values below are binned one by one
constexpr uint32_t HISTOGRAM_TOP_BIT = 36; // values of 2^36 ns and more overflow
constexpr uint32_t HISTOGRAM_BINS =
    HISTOGRAM_EXACT + (HISTOGRAM_TOP_BIT - 6) * (1u << HISTOGRAM_SUB_BITS);
constexpr int64_t HISTOGRAM_LIMIT_NS = int64_t{1} << HISTOGRAM_TOP_BIT;

struct Histogram {
    uint64_t bins[HISTOGRAM_BINS];
    uint64_t overflow;
    uint64_t count; // every value added, overflow included
    int64_t min;    // exact; 0 while empty
    int64_t max;
};

void histogram_clear(Histogram* histogram);
// Adds one value; a negative value (a clock that woke early) counts as 0.
void histogram_add(Histogram* histogram, int64_t value_ns);
void histogram_merge(Histogram* into, const Histogram* from);

// Bin of a value below HISTOGRAM_LIMIT_NS, and the values a bin holds:
// [bin_low, bin_high).
uint32_t histogram_bin_of(int64_t value_ns);
int64_t histogram_bin_low(uint32_t bin);
int64_t histogram_bin_high(uint32_t bin);

// The value at or below which `per_100000` / 100000 of the values lie,
// rounded up to the top of its bin but never above the exact maximum; the
// maximum itself when that rank falls in the overflow bin. 0 when empty.
int64_t histogram_percentile(const Histogram* histogram, uint32_t per_100000);

constexpr uint32_t P50 = 50000;
constexpr uint32_t P90 = 90000;
constexpr uint32_t P99 = 99000;
constexpr uint32_t P999 = 99900;
constexpr uint32_t P100 = 100000;

// Each period's processing time over what the search expected of it, in
// bins 1/SPREAD_BINS_PER_UNIT wide from 0 up to SPREAD_TOP: fine enough that the
// capacity read from its tail moves by a tenth of a percent, where the
// histogram above is 3 % wide. Periods that took SPREAD_TOP times what was
// expected or more are counted apart.
constexpr uint32_t SPREAD_BINS_PER_UNIT = 1000;
constexpr uint32_t SPREAD_TOP = 3;
constexpr uint32_t SPREAD_BINS = SPREAD_BINS_PER_UNIT * SPREAD_TOP;

struct SpreadHistogram {
    uint32_t bins[SPREAD_BINS];
    uint64_t above;
    uint64_t count; // above included
};

void spread_clear(SpreadHistogram* spread);
// Adds one period that took `ratio` times the time expected.
void spread_add(SpreadHistogram* spread, double ratio);
void spread_merge(SpreadHistogram* into, const SpreadHistogram* from);
// The ratio at or below which `share` of the periods lie (the top of its
// bin; SPREAD_TOP once the rank falls above); 0 when empty.
double spread_quantile(const SpreadHistogram* spread, double share);
