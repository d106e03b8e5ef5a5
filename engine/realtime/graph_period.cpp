#include "engine/realtime/graph_period.h"

namespace {
constexpr uint64_t ROUTE_MASK = 0xffffffffu;

uint64_t tag_of(uint64_t number) {
    return (number + 1) << 32;
}

// Queues `route` in period `number` in the next free slot after the sources.
void queue_route(GraphPeriod* period, uint64_t number, uint32_t route) {
    const auto pushes_a_period = static_cast<uint64_t>(period->routes - period->sources.size());
    const uint64_t push = period->queued.fetch_add(1, std::memory_order_relaxed);
    const auto slot =
        static_cast<size_t>(period->sources.size() + (push - number * pushes_a_period));
    period->queue[slot].store(tag_of(number) | route, std::memory_order_release);
}

// The route of slot k of period `number`; waits while the route that goes
// there is still being queued (its last input is ending on another thread).
uint32_t route_in_slot(GraphPeriod* period, uint64_t number, size_t k) {
    if (k < period->sources.size()) {
        return period->sources[k];
    }
    for (;;) {
        const uint64_t entry = period->queue[k].load(std::memory_order_acquire);
        if ((entry & ~ROUTE_MASK) == tag_of(number)) {
            return static_cast<uint32_t>(entry & ROUTE_MASK);
        }
    }
}
} // namespace

bool graph_period_prepare(GraphPeriod* period, const RouteGraph* graph) {
    if (route_graph_check(graph).fault != GRAPH_SOUND || graph->feeds.empty()) {
        return false;
    }
    period->routes = static_cast<uint32_t>(graph->feeds.size());
    period->feeds = graph->feeds;
    period->inputs = route_inputs(graph);
    period->sources.clear();
    for (uint32_t r = 0; r < period->routes; ++r) {
        if (period->inputs[r] == 0) {
            period->sources.push_back(r);
        }
    }
    period->arrived = std::make_unique<std::atomic<uint64_t>[]>(period->routes);
    period->queue = std::make_unique<std::atomic<uint64_t>[]>(period->routes);
    for (uint32_t r = 0; r < period->routes; ++r) {
        period->arrived[r].store(0, std::memory_order_relaxed);
        period->queue[r].store(0, std::memory_order_relaxed);
    }
    period->taken.store(0, std::memory_order_relaxed);
    period->queued.store(0, std::memory_order_relaxed);
    period->ended.store(0, std::memory_order_release);
    return true;
}

bool graph_period_run(GraphPeriod* period, uint64_t number, RouteFunction run, void* user) {
    const uint64_t first = number * period->routes;
    const uint64_t end = first + period->routes;
    bool ended_last = false;
    for (;;) {
        uint64_t slot = period->taken.load(std::memory_order_relaxed);
        do {
            if (slot >= end) {
                return ended_last;
            }
        } while (!period->taken.compare_exchange_weak(slot, slot + 1, std::memory_order_relaxed));
        const uint32_t route = route_in_slot(period, number, static_cast<size_t>(slot - first));
        run(user, route);
        // acq_rel: the route that becomes ready sees what every route that
        // feeds it wrote, whichever thread ran them.
        for (uint32_t to : period->feeds[route]) {
            const uint64_t arrived =
                period->arrived[to].fetch_add(1, std::memory_order_acq_rel) + 1;
            if (arrived == (number + 1) * period->inputs[to]) {
                queue_route(period, number, to);
            }
        }
        ended_last = period->ended.fetch_add(1, std::memory_order_acq_rel) + 1 == end;
    }
}

bool graph_period_ended(const GraphPeriod* period, uint64_t number) {
    return period->ended.load(std::memory_order_acquire) >= (number + 1) * period->routes;
}
