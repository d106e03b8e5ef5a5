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

double mean_of(const std::vector<int64_t>& values) {
    double sum = 0.0;
    for (int64_t value : values) {
        sum += static_cast<double>(value);
    }
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

// Column `c` of a hold's rows of `width` values, over the periods that ran.
void take_column(const int64_t* rows, uint32_t width, uint32_t c, uint64_t ran,
                 std::vector<int64_t>* column) {
    column->resize(ran);
    for (uint64_t k = 0; k < ran; ++k) {
        (*column)[k] = rows[k * width + c];
    }
}

std::vector<RouteTimes> route_times(const SessionHold* hold, const std::vector<uint32_t>& first) {
    const uint32_t routes = hold->routes;
    std::vector<RouteTimes> times(routes);
    std::vector<int64_t> column;
    for (uint32_t r = 0; r < routes; ++r) {
        take_column(hold->route_ns, routes, r, hold->ran, &column);
        times[r].route = r;
        times[r].mean_ns = mean_of(column);
        times[r].median_ns = quantile(&column, 0.5);
        times[r].p999_ns = quantile(&column, 0.999);
        times[r].worst_ns = column.empty() ? 0 : column.back();
        for (uint32_t l = first[r]; l < first[r + 1] && l < hold->links; ++l) {
            take_column(hold->link_ns, hold->links, l, hold->ran, &column);
            const double mean = mean_of(column);
            times[r].plugins.push_back({quantile(&column, 0.5), quantile(&column, 0.999), mean});
        }
    }
    return times;
}

// The plugin of the miss's route furthest above its median in its period.
void furthest_plugin(const SessionHold* hold, const std::vector<RouteTimes>& times,
                     const std::vector<uint32_t>& first, NamedMiss* miss) {
    const uint32_t route = miss->route;
    const uint64_t k = miss->period;
    uint32_t furthest = NO_PLUGIN;
    int64_t most = INT64_MIN;
    const std::vector<PluginTimes>& plugins = times[route].plugins;
    for (uint32_t p = 0; p < plugins.size(); ++p) {
        const int64_t above =
            hold->link_ns[k * hold->links + first[route] + p] - plugins[p].median_ns;
        if (above > most) {
            most = above;
            furthest = p;
        }
    }
    miss->plugin = furthest;
    miss->plugin_above_ns = furthest == NO_PLUGIN ? 0 : most;
}

// When the first of period k's threads woke, from the period's start.
int64_t first_wake(const SessionHold* hold, uint64_t k) {
    int64_t wake = INT64_MAX;
    for (uint32_t t = 0; t < hold->threads; ++t) {
        wake = std::min(wake, hold->wake_ns[k * hold->threads + t]);
    }
    return wake;
}

// Missed periods whose threads woke so late that the routes' work at their
// medians (`usual_ns` on these threads), begun then, could not have ended
// in time.
uint64_t missed_begun_late(const SessionHold* hold, int64_t usual_ns, int64_t period_ns) {
    uint64_t late = 0;
    for (uint64_t k = 0; k < hold->ran; ++k) {
        late += hold->end_ns[k] > period_ns && first_wake(hold, k) + usual_ns > period_ns ? 1u : 0u;
    }
    return late;
}

std::vector<NamedMiss> named_misses(const SessionHold* hold, const std::vector<RouteTimes>& times,
                                    const std::vector<uint32_t>& first, int64_t period_ns) {
    const auto routes = static_cast<uint32_t>(times.size());
    std::vector<NamedMiss> misses;
    for (uint64_t k = 0; k < hold->ran && misses.size() < MAX_NAMED_MISSES; ++k) {
        if (hold->end_ns[k] <= period_ns) {
            continue;
        }
        const int64_t wake = first_wake(hold, k);
        const bool after_late = k > 0 && hold->end_ns[k - 1] > period_ns;
        NamedMiss miss{k, hold->end_ns[k], wake, after_late, 0, INT64_MIN, NO_PLUGIN, 0};
        for (uint32_t r = 0; r < routes; ++r) {
            const int64_t above = hold->route_ns[k * routes + r] - times[r].median_ns;
            if (above > miss.above_ns) {
                miss.route = r;
                miss.above_ns = above;
            }
        }
        furthest_plugin(hold, times, first, &miss);
        misses.push_back(miss);
    }
    return misses;
}

void end_shares(const int64_t* end_ns, uint64_t ran, int64_t period_ns, EndShares* shares) {
    *shares = EndShares{};
    for (uint64_t k = 0; k < ran && period_ns > 0; ++k) {
        // Whole twentieths rounded up, so that an end at the period's end is in
        // the period and any end past it is not.
        const int64_t up = (end_ns[k] * END_BINS_IN_PERIOD + period_ns - 1) / period_ns;
        shares->bins[std::clamp<int64_t>(up - 1, 0, END_BINS - 1)] += 1;
    }
}
} // namespace

uint32_t copies_by_median(double work_ns, double critical_ns, int64_t period_ns, uint32_t threads) {
    const auto period = static_cast<double>(period_ns);
    if (work_ns <= 0.0 || critical_ns > period) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<double>(threads) * period / work_ns);
}

SessionVerdict judge_session(const SessionHold* idle, const SessionHold* hold,
                             const RouteGraph* graph, const std::vector<uint32_t>& first_links,
                             uint64_t asked, int64_t period_ns, uint32_t threads, double limit) {
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
    std::vector<int64_t> ends(hold->end_ns, hold->end_ns + hold->ran);
    verdict.use_mean_ns = mean_of(ends);
    verdict.use_median_ns = quantile(&ends, 0.5);
    verdict.use_worst_ns = ends.empty() ? 0 : ends.back();
    const auto routes = static_cast<uint32_t>(graph->feeds.size());
    std::vector<RouteTimes> times = route_times(hold, first_links);
    std::vector<double> medians(routes);
    for (uint32_t r = 0; r < routes; ++r) {
        medians[r] = static_cast<double>(times[r].median_ns);
    }
    verdict.critical = critical_path(graph, medians);
    for (uint32_t c = 1; c <= std::max(threads, 2u); ++c) {
        verdict.span_ns.push_back(period_span(graph, medians, c));
    }
    verdict.copies_by_median =
        copies_by_median(verdict.span_ns[0], verdict.critical.time_ns, period_ns, threads);
    verdict.misses = named_misses(hold, times, first_links, period_ns);
    const auto usual_ns = static_cast<int64_t>(verdict.span_ns[std::max(threads, 1u) - 1]);
    verdict.missed_begun_late = missed_begun_late(hold, usual_ns, period_ns);
    end_shares(hold->end_ns, hold->ran, period_ns, &verdict.hold_ends);
    end_shares(idle->end_ns, idle->ran, period_ns, &verdict.idle_ends);
    std::stable_sort(times.begin(), times.end(), [](const RouteTimes& a, const RouteTimes& b) {
        return a.median_ns > b.median_ns;
    });
    verdict.routes = std::move(times);
    return verdict;
}
