// One period of a route graph run by several threads at once, as a DAW's
// process graph runs: a route runs once every route that feeds it has, the
// thread that ends a route's last input queues it, and any free thread takes
// the next queued route. Dependencies are counted with atomics, never locks,
// and nothing is reset between periods: the counters only grow, so a
// period's counts are told from the last one's by the period's number.
#pragma once

#include "engine/realtime/route_graph.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// Runs route `route` of the period; called on any of the threads.
using RouteFunction = void (*)(void* user, uint32_t route);

struct GraphPeriod {
    uint32_t routes = 0;
    std::vector<uint32_t> inputs;             // how many routes feed each
    std::vector<std::vector<uint32_t>> feeds; // what each feeds
    std::vector<uint32_t> sources;            // routes nothing feeds, taken first
    // Inputs ended, over all periods: route r is ready in period p when its
    // count reaches (p + 1) * inputs[r].
    std::unique_ptr<std::atomic<uint64_t>[]> arrived;
    // Slot k of a period holds ((p + 1) << 32) | route once that route is
    // queued in period p; the sources need no slot.
    std::unique_ptr<std::atomic<uint64_t>[]> queue;
    std::atomic<uint64_t> taken{0};  // slots taken, over all periods
    std::atomic<uint64_t> queued{0}; // routes queued, over all periods
    std::atomic<uint64_t> ended{0};  // routes run, over all periods
};

// Prepares `period` for `graph`; false when the graph is not sound
// (route_graph_check) or has no route.
bool graph_period_prepare(GraphPeriod* period, const RouteGraph* graph);

// Takes part in period `number` (0, 1, 2, ...) on the calling thread: runs
// routes as they become ready until every route of the period is taken,
// and returns; true on the one thread that ended the period's last route,
// whose clock then reads the period's end. Every thread of the run calls it for each period, and
// none may call it for period p + 1 before graph_period_ended(p).
bool graph_period_run(GraphPeriod* period, uint64_t number, RouteFunction run, void* user);

// Every route of period `number` has run.
bool graph_period_ended(const GraphPeriod* period, uint64_t number);
