// A session's routes as a graph of which route feeds which, and what the
// graph alone says of a period: the order the routes may run in, the chain
// of routes that bounds the period (its critical path) and how long a
// period takes on a number of cores, given each route's time.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint32_t MAX_ROUTES = 1024;

struct RouteGraph {
    std::vector<std::vector<uint32_t>> feeds; // feeds[r]: the routes r's output goes into
};

// What is wrong with a graph: a route past the end, a route that feeds
// itself (directly or round a cycle) or too many routes. `route` is one
// route of the fault.
enum RouteGraphFault { GRAPH_SOUND, GRAPH_TOO_MANY, GRAPH_UNKNOWN_ROUTE, GRAPH_CYCLE };

struct RouteGraphCheck {
    RouteGraphFault fault;
    uint32_t route;
};

RouteGraphCheck route_graph_check(const RouteGraph* graph);

// The routes of one cycle in the order they feed each other, from its
// lowest-numbered route (which the last feeds); a route that feeds itself
// is a cycle of one. Empty when there is none. Every feed must name a route.
std::vector<uint32_t> route_cycle(const RouteGraph* graph);

// How many routes feed each route.
std::vector<uint32_t> route_inputs(const RouteGraph* graph);

// The routes in an order that runs every route after those that feed it;
// of the routes ready at once, the lowest index first. Empty when the graph
// is not sound.
std::vector<uint32_t> route_order(const RouteGraph* graph);

// The chain of routes, from a route nothing feeds to one that feeds
// nothing, whose times add up to the most; `time_ns` is that sum.
struct RoutePath {
    std::vector<uint32_t> routes;
    double time_ns;
};

RoutePath critical_path(const RouteGraph* graph, const std::vector<double>& time_ns);

// The time from a period's start to its last route's end when `cores`
// threads each take the next ready route as they come free, the ready
// routes in the order they became ready, as the period's runner takes them.
double period_span(const RouteGraph* graph, const std::vector<double>& time_ns, uint32_t cores);
