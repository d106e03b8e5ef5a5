// What a session's holds at one buffer size say: whether it plays (the one
// rule of hold_rule.h, every missed period counted against the idle
// system's), how much of the period it used, each route's time, the chain
// of routes that bounds the period and what more cores would save, and for
// each missed period the route furthest above its usual time and how late
// the first thread woke, so that a period the system began late is told
// from one a route made late (both are missed; neither is excused).
#pragma once

#include "engine/realtime/hold_rule.h"
#include "engine/realtime/route_graph.h"
#include "engine/realtime/session_hold.h"

#include <cstdint>
#include <vector>

// The missed periods named one by one; the rest are only counted.
constexpr uint32_t MAX_NAMED_MISSES = 16;

struct PluginTimes {
    int64_t median_ns;
    int64_t p999_ns;
    double mean_ns; // beside a DAW's own figure, which is a mean
};

struct RouteTimes {
    uint32_t route;
    int64_t median_ns;
    int64_t p999_ns;
    int64_t worst_ns;
    double mean_ns;
    std::vector<PluginTimes> plugins; // its plugins that ran, in chain order
};

// A miss's plugin when its route ran none.
constexpr uint32_t NO_PLUGIN = UINT32_MAX;

struct NamedMiss {
    uint64_t period;
    int64_t end_ns;   // from the period's start
    int64_t wake_ns;  // when the first thread woke, from the period's start
    bool after_late;  // the period before ran into this one
    uint32_t route;   // the route furthest above its median in that period
    int64_t above_ns; // by how much
    uint32_t plugin;  // its plugin furthest above its median, in chain order; NO_PLUGIN
    int64_t plugin_above_ns;
};

// The periods' ends as shares of the period, for the picture: bin b counts
// the ends in (b, b + 1] twentieths of the period (the first also an end at
// the period's start), the last every end past it, so that the bins from
// END_BINS_IN_PERIOD on count exactly the missed periods.
constexpr uint32_t END_BINS_IN_PERIOD = 20;
constexpr uint32_t END_BINS = 2 * END_BINS_IN_PERIOD; // to twice the period
struct EndShares {
    uint64_t bins[END_BINS];
};

struct SessionVerdict {
    uint32_t frames;
    int64_t period_ns;
    uint32_t threads;
    IdleFloor idle;
    bool idle_sustainable; // the idle gate: otherwise nothing is held here
    uint64_t asked, ran, missed, allowance;
    uint64_t missed_begun_late; // of the missed, begun too late for the routes' usual work
    bool plays;
    int64_t use_median_ns; // a period's end from its start, median, worst and mean
    int64_t use_worst_ns;
    double use_mean_ns;
    std::vector<RouteTimes> routes; // the costliest (by median) first
    RoutePath critical;             // by the routes' medians
    std::vector<double> span_ns;    // [c]: the period's span on c + 1 threads, by the medians
    uint32_t copies_by_median;      // copies of the session a period would fit: not held
    std::vector<NamedMiss> misses;
    EndShares hold_ends; // the hold's periods that ran
    EndShares idle_ends; // the idle run's, which the allowance rests on
};

// How many copies of a session whose routes take `work_ns` in all a period
// (by their medians, `critical_ns` of it one after another) `threads`
// could run in a period, were nothing slower than its median: an estimate
// in the musician's unit, never a count that was held. 0 where one copy's
// critical path is longer than the period.
uint32_t copies_by_median(double work_ns, double critical_ns, int64_t period_ns, uint32_t threads);

// The verdict from the idle run and the hold at one buffer size; `limit`
// is the idle gate's share of missed periods, `first_links` the plugins'
// numbering (session_first_links).
SessionVerdict judge_session(const SessionHold* idle, const SessionHold* hold,
                             const RouteGraph* graph, const std::vector<uint32_t>& first_links,
                             uint64_t asked, int64_t period_ns, uint32_t threads, double limit);
