#include "engine/realtime/histogram.h"

namespace {
constexpr uint32_t SUB_BINS = 1u << HISTOGRAM_SUB_BITS;

uint32_t top_bit(uint64_t value) {
    uint32_t bit = 0;
    while (value >> (bit + 1) != 0) {
        ++bit;
    }
    return bit;
}
} // namespace

void histogram_clear(Histogram* histogram) {
    *histogram = Histogram{};
}

uint32_t histogram_bin_of(int64_t value_ns) {
    auto value = static_cast<uint64_t>(value_ns);
    if (value < HISTOGRAM_EXACT) {
        return static_cast<uint32_t>(value);
    }
    uint32_t bit = top_bit(value); // 6 .. 35
    uint32_t shift = bit - HISTOGRAM_SUB_BITS;
    auto mantissa = static_cast<uint32_t>(value >> shift); // SUB_BINS .. 2 * SUB_BINS - 1
    return HISTOGRAM_EXACT + (bit - 6) * SUB_BINS + (mantissa - SUB_BINS);
}

int64_t histogram_bin_low(uint32_t bin) {
    if (bin < HISTOGRAM_EXACT) {
        return bin;
    }
    uint32_t group = (bin - HISTOGRAM_EXACT) / SUB_BINS;
    uint32_t mantissa = SUB_BINS + (bin - HISTOGRAM_EXACT) % SUB_BINS;
    return static_cast<int64_t>(uint64_t{mantissa} << (group + 6 - HISTOGRAM_SUB_BITS));
}

int64_t histogram_bin_high(uint32_t bin) {
    return bin + 1 < HISTOGRAM_BINS ? histogram_bin_low(bin + 1) : HISTOGRAM_LIMIT_NS;
}

void histogram_add(Histogram* histogram, int64_t value_ns) {
    int64_t value = value_ns < 0 ? 0 : value_ns;
    if (histogram->count == 0 || value < histogram->min) {
        histogram->min = value;
    }
    if (histogram->count == 0 || value > histogram->max) {
        histogram->max = value;
    }
    histogram->count += 1;
    if (value >= HISTOGRAM_LIMIT_NS) {
        histogram->overflow += 1;
    } else {
        histogram->bins[histogram_bin_of(value)] += 1;
    }
}

void histogram_merge(Histogram* into, const Histogram* from) {
    if (from->count == 0) {
        return;
    }
    if (into->count == 0 || from->min < into->min) {
        into->min = from->min;
    }
    if (into->count == 0 || from->max > into->max) {
        into->max = from->max;
    }
    for (uint32_t b = 0; b < HISTOGRAM_BINS; ++b) {
        into->bins[b] += from->bins[b];
    }
    into->overflow += from->overflow;
    into->count += from->count;
}

int64_t histogram_percentile(const Histogram* histogram, uint32_t per_100000) {
    if (histogram->count == 0) {
        return 0;
    }
    uint64_t rank = (histogram->count * per_100000 + 99999) / 100000;
    if (rank < 1) {
        rank = 1;
    }
    uint64_t seen = 0;
    for (uint32_t b = 0; b < HISTOGRAM_BINS; ++b) {
        seen += histogram->bins[b];
        if (seen >= rank) {
            int64_t top = histogram_bin_high(b) - 1;
            return top < histogram->max ? top : histogram->max;
        }
    }
    return histogram->max;
}

void spread_clear(SpreadHistogram* spread) {
    *spread = SpreadHistogram{};
}

void spread_add(SpreadHistogram* spread, double ratio) {
    spread->count += 1;
    const double bin = ratio * SPREAD_BINS_PER_UNIT;
    if (!(bin < SPREAD_BINS)) { // NaN too
        spread->above += 1;
        return;
    }
    spread->bins[bin > 0.0 ? static_cast<uint32_t>(bin) : 0] += 1;
}

void spread_merge(SpreadHistogram* into, const SpreadHistogram* from) {
    for (uint32_t b = 0; b < SPREAD_BINS; ++b) {
        into->bins[b] += from->bins[b];
    }
    into->above += from->above;
    into->count += from->count;
}

double spread_quantile(const SpreadHistogram* spread, double share) {
    if (spread->count == 0) {
        return 0.0;
    }
    const double wanted = share * static_cast<double>(spread->count);
    uint64_t seen = 0;
    for (uint32_t b = 0; b < SPREAD_BINS; ++b) {
        seen += spread->bins[b];
        if (static_cast<double>(seen) >= wanted && seen > 0) {
            return static_cast<double>(b + 1) / SPREAD_BINS_PER_UNIT;
        }
    }
    return SPREAD_TOP;
}
