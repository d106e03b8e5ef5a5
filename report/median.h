// The median of a run's figures over several runs, as the throughput
// summary and the comparison of saved reports both take it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// The middle value, or between the two middle ones the lower plus half the
// gap to the upper, rounded down. The gap is taken unsigned, so no pair of
// figures can overflow it. 0 for no values.
inline int64_t median_of(std::vector<int64_t> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    if (values.size() % 2 == 1) {
        return values[middle];
    }
    const int64_t low = values[middle - 1];
    const uint64_t gap = static_cast<uint64_t>(values[middle]) - static_cast<uint64_t>(low);
    return low + static_cast<int64_t>(gap / 2);
}
