#include "engine/realtime/session_judge.h"

#include <algorithm>

namespace {
// The value at quantile q of `values`, sorted in place.
int64_t quantile(std::vector<int64_t>* values, double q) {
    if (values->empty()) {
        return 0;
    }
    std::sort(values->begin(), values->end());
    const auto at = static_cast<size_t>(q * static_cast<double>(values->size() - 1) + 0.5);
    return (*values)[std::min(at, values->size() - 1)];
}

std::vector<RouteTimes> route_times(const SessionHold* hold, uint32_t routes) {
    std::vector<RouteTimes> times(routes);
    std::vector<int64_t> column(hold->ran);
    for (uint32_t r = 0; r < routes; ++r) {
        for (uint64_t k = 0; k < hold->ran; ++k) {
            column[k] = hold->route_ns[k * routes + r];
        }
        times[r].route = r;
        times[r].median_ns = quantile(&column, 0.5);
        times[r].p999_ns = quantile(&column, 0.999);
        times[r].worst_ns = column.empty() ? 0 : column.back();
    }
    return times;
}

std::vector<NamedMiss> named_misses(const SessionHold* hold, const std::vector<RouteTimes>& times,
                                    int64_t period_ns) {
    const auto routes = static_cast<uint32_t>(times.size());
    std::vector<NamedMiss> misses;
    for (uint64_t k = 0; k < hold->ran && misses.size() < MAX_NAMED_MISSES; ++k) {
        if (hold->end_ns[k] <= period_ns) {
            continue;
        }
        const auto threads = hold->wake_ns.size() / std::max<size_t>(hold->end_ns.size(), 1);
        int64_t wake = INT64_MAX;
        for (size_t t = 0; t < threads; ++t) {
            wake = std::min(wake, hold->wake_ns[k * threads + t]);
        }
        const bool after_late = k > 0 && hold->end_ns[k - 1] > period_ns;
        NamedMiss miss{k, hold->end_ns[k], wake, after_late, 0, INT64_MIN};
        for (uint32_t r = 0; r < routes; ++r) {
            const int64_t above = hold->route_ns[k * routes + r] - times[r].median_ns;
            if (above > miss.above_ns) {
                miss.route = r;
                miss.above_ns = above;
            }
        }
        misses.push_back(miss);
    }
    return misses;
}
} // namespace

SessionVerdict judge_session(const SessionHold* idle, const SessionHold* hold,
                             const RouteGraph* graph, uint64_t asked, int64_t period_ns,
                             uint32_t threads, double limit) {
    SessionVerdict verdict{};
    verdict.period_ns = period_ns;
    verdict.threads = threads;
    verdict.idle = IdleFloor{idle->ran, idle->missed};
    verdict.idle_sustainable = idle_sustainable(asked, idle->ran, idle->missed, limit);
    verdict.asked = asked;
    verdict.ran = hold->ran;
    verdict.missed = hold->missed;
    verdict.allowance = hold_allowance(&verdict.idle, hold->ran, 0.0);
    verdict.plays =
        verdict.idle_sustainable && hold_plays(&verdict.idle, asked, hold->ran, hold->missed, 0.0);
    std::vector<int64_t> ends(hold->end_ns.begin(),
                              hold->end_ns.begin() + static_cast<int64_t>(hold->ran));
    verdict.use_median_ns = quantile(&ends, 0.5);
    verdict.use_worst_ns = ends.empty() ? 0 : ends.back();
    const auto routes = static_cast<uint32_t>(graph->feeds.size());
    std::vector<RouteTimes> times = route_times(hold, routes);
    std::vector<double> medians(routes);
    for (uint32_t r = 0; r < routes; ++r) {
        medians[r] = static_cast<double>(times[r].median_ns);
    }
    verdict.critical = critical_path(graph, medians);
    for (uint32_t c = 1; c <= std::max(threads, 2u); ++c) {
        verdict.span_ns.push_back(period_span(graph, medians, c));
    }
    verdict.misses = named_misses(hold, times, period_ns);
    std::stable_sort(times.begin(), times.end(), [](const RouteTimes& a, const RouteTimes& b) {
        return a.median_ns > b.median_ns;
    });
    verdict.routes = std::move(times);
    return verdict;
}
