#include "engine/realtime/route_graph.h"

#include <algorithm>
#include <queue>

namespace {
constexpr uint32_t NONE = UINT32_MAX;

// Kahn's order; its length falls short of the routes when there is a cycle.
std::vector<uint32_t> kahn_order(const RouteGraph* graph) {
    const auto routes = static_cast<uint32_t>(graph->feeds.size());
    std::vector<uint32_t> waiting = route_inputs(graph);
    std::priority_queue<uint32_t, std::vector<uint32_t>, std::greater<>> ready;
    for (uint32_t r = 0; r < routes; ++r) {
        if (waiting[r] == 0) {
            ready.push(r);
        }
    }
    std::vector<uint32_t> order;
    while (!ready.empty()) {
        const uint32_t r = ready.top();
        ready.pop();
        order.push_back(r);
        for (uint32_t to : graph->feeds[r]) {
            if (--waiting[to] == 0) {
                ready.push(to);
            }
        }
    }
    return order;
}

// A route on a cycle, from what Kahn's order left out: each route left out
// has a route left out that feeds it (fed_by), so walking back from any of
// them as many times as there are routes ends on a cycle, not merely below
// one.
uint32_t route_on_cycle(const std::vector<uint32_t>& fed_by, const std::vector<bool>& placed) {
    auto route =
        static_cast<uint32_t>(std::find(placed.begin(), placed.end(), false) - placed.begin());
    for (size_t walked = 0; walked < fed_by.size(); ++walked) {
        route = fed_by[route];
    }
    return route;
}
} // namespace

std::vector<uint32_t> route_inputs(const RouteGraph* graph) {
    std::vector<uint32_t> inputs(graph->feeds.size(), 0);
    for (const std::vector<uint32_t>& feeds : graph->feeds) {
        for (uint32_t to : feeds) {
            if (to < inputs.size()) {
                ++inputs[to];
            }
        }
    }
    return inputs;
}

RouteGraphCheck route_graph_check(const RouteGraph* graph) {
    const size_t routes = graph->feeds.size();
    if (routes > MAX_ROUTES) {
        return {GRAPH_TOO_MANY, MAX_ROUTES};
    }
    for (size_t r = 0; r < routes; ++r) {
        for (uint32_t to : graph->feeds[r]) {
            if (to >= routes) {
                return {GRAPH_UNKNOWN_ROUTE, static_cast<uint32_t>(r)};
            }
        }
    }
    const std::vector<uint32_t> order = kahn_order(graph);
    if (order.size() == routes) {
        return {GRAPH_SOUND, 0};
    }
    return {GRAPH_CYCLE, route_cycle(graph).front()};
}

std::vector<uint32_t> route_cycle(const RouteGraph* graph) {
    const size_t routes = graph->feeds.size();
    const std::vector<uint32_t> order = kahn_order(graph);
    if (order.size() == routes) {
        return {};
    }
    std::vector<bool> placed(routes, false);
    for (uint32_t r : order) {
        placed[r] = true;
    }
    std::vector<uint32_t> fed_by(routes, NONE); // one left-out route feeding each
    for (uint32_t r = 0; r < routes; ++r) {
        for (uint32_t to : graph->feeds[r]) {
            if (!placed[r] && !placed[to]) {
                fed_by[to] = r;
            }
        }
    }
    const uint32_t start = route_on_cycle(fed_by, placed);
    std::vector<uint32_t> cycle{start};
    for (uint32_t r = fed_by[start]; r != start; r = fed_by[r]) {
        cycle.push_back(r);
    }
    std::reverse(cycle.begin(), cycle.end()); // walked against the feeds
    std::rotate(cycle.begin(), std::min_element(cycle.begin(), cycle.end()), cycle.end());
    return cycle;
}

std::vector<uint32_t> route_order(const RouteGraph* graph) {
    if (route_graph_check(graph).fault != GRAPH_SOUND) {
        return {};
    }
    return kahn_order(graph);
}

RoutePath critical_path(const RouteGraph* graph, const std::vector<double>& time_ns) {
    const std::vector<uint32_t> order = route_order(graph);
    const size_t routes = graph->feeds.size();
    if (order.size() != routes || time_ns.size() != routes || routes == 0) {
        return {{}, 0.0};
    }
    // finish[r]: the longest chain of times that ends with r; before[r] its
    // route before r on that chain.
    std::vector<double> finish(routes, 0.0);
    std::vector<uint32_t> before(routes, NONE);
    for (uint32_t r : order) {
        finish[r] += time_ns[r];
        for (uint32_t to : graph->feeds[r]) {
            if (before[to] == NONE || finish[r] > finish[to]) {
                finish[to] = finish[r];
                before[to] = r;
            }
        }
    }
    auto end =
        static_cast<uint32_t>(std::max_element(finish.begin(), finish.end()) - finish.begin());
    RoutePath path{{}, finish[end]};
    for (uint32_t r = end; r != NONE; r = before[r]) {
        path.routes.push_back(r);
    }
    std::reverse(path.routes.begin(), path.routes.end());
    return path;
}

double period_span(const RouteGraph* graph, const std::vector<double>& time_ns, uint32_t cores) {
    const size_t routes = graph->feeds.size();
    if (route_graph_check(graph).fault != GRAPH_SOUND || time_ns.size() != routes || cores == 0) {
        return 0.0;
    }
    std::vector<uint32_t> waiting = route_inputs(graph);
    std::vector<uint32_t> ready; // in the order the routes became ready
    for (uint32_t r = 0; r < routes; ++r) {
        if (waiting[r] == 0) {
            ready.push_back(r);
        }
    }
    // Each core's running route and when it ends; the earliest end goes first.
    using Running = std::pair<double, uint32_t>;
    std::priority_queue<Running, std::vector<Running>, std::greater<>> running;
    size_t next = 0;
    double now = 0.0;
    uint32_t idle = cores;
    while (next < ready.size() || !running.empty()) {
        while (idle > 0 && next < ready.size()) {
            const uint32_t r = ready[next++];
            running.emplace(now + time_ns[r], r);
            --idle;
        }
        const Running ended = running.top();
        running.pop();
        now = ended.first;
        ++idle;
        for (uint32_t to : graph->feeds[ended.second]) {
            if (--waiting[to] == 0) {
                ready.push_back(to);
            }
        }
    }
    return now;
}
