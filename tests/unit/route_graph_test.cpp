// The route graph's analysis against graphs drawn at random, with the truth
// worked out here by enumerating every path, and its period runner on real
// threads: every route once a period, after all that feed it.
#include "engine/realtime/graph_period.h"
#include "engine/realtime/route_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

namespace {
uint32_t below(std::mt19937* random, uint32_t end) {
    return static_cast<uint32_t>((*random)() % end);
}

// A graph of `routes` routes whose edges go from earlier to later in a
// shuffled order (so it has no cycle), each with chance `density`.
RouteGraph drawn_graph(std::mt19937* random, uint32_t routes, double density) {
    std::vector<uint32_t> rank(routes);
    for (uint32_t r = 0; r < routes; ++r) {
        rank[r] = r;
    }
    std::shuffle(rank.begin(), rank.end(), *random);
    std::bernoulli_distribution edge(density);
    RouteGraph graph;
    graph.feeds.resize(routes);
    for (uint32_t a = 0; a < routes; ++a) {
        for (uint32_t b = a + 1; b < routes; ++b) {
            if (edge(*random)) {
                graph.feeds[rank[a]].push_back(rank[b]);
            }
        }
    }
    return graph;
}

// The longest sum of times over every path that starts at `route`.
double longest_from(const RouteGraph& graph, const std::vector<double>& time, uint32_t route) {
    double best = 0.0;
    for (uint32_t to : graph.feeds[route]) {
        best = std::max(best, longest_from(graph, time, to));
    }
    return time[route] + best;
}

bool reaches(const RouteGraph& graph, uint32_t from, uint32_t to, uint32_t depth) {
    if (depth > graph.feeds.size()) {
        return false;
    }
    for (uint32_t next : graph.feeds[from]) {
        if (next == to || reaches(graph, next, to, depth + 1)) {
            return true;
        }
    }
    return false;
}
} // namespace

TEST(RouteGraph, CriticalPathAndSpanAgreeWithEveryPath) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> time_of(1.0, 100.0);
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t routes = 1 + below(&random, 12);
        const RouteGraph graph = drawn_graph(&random, routes, below(&random, 5) / 5.0);
        std::vector<double> time(routes);
        double sum = 0.0;
        double longest = 0.0;
        for (uint32_t r = 0; r < routes; ++r) {
            sum += time[r] = time_of(random);
        }
        for (uint32_t r = 0; r < routes; ++r) {
            longest = std::max(longest, longest_from(graph, time, r));
        }
        ASSERT_EQ(route_graph_check(&graph).fault, GRAPH_SOUND);
        const RoutePath path = critical_path(&graph, time);
        EXPECT_NEAR(path.time_ns, longest, 1e-9);
        double along = 0.0;
        for (size_t i = 0; i < path.routes.size(); ++i) {
            along += time[path.routes[i]];
            if (i > 0) {
                const std::vector<uint32_t>& feeds = graph.feeds[path.routes[i - 1]];
                EXPECT_NE(std::find(feeds.begin(), feeds.end(), path.routes[i]), feeds.end());
            }
        }
        EXPECT_NEAR(along, longest, 1e-9);
        EXPECT_NEAR(period_span(&graph, time, 1), sum, 1e-9);
        EXPECT_NEAR(period_span(&graph, time, routes), longest, 1e-9);
        for (uint32_t cores = 2; cores <= 4; ++cores) {
            const double span = period_span(&graph, time, cores);
            EXPECT_GE(span + 1e-9, std::max(longest, sum / cores));
            EXPECT_LE(span, sum / cores + longest + 1e-9); // Graham's bound for list scheduling
        }
        const std::vector<uint32_t> order = route_order(&graph);
        ASSERT_EQ(order.size(), routes);
        for (size_t i = 0; i < order.size(); ++i) {
            for (size_t j = i + 1; j < order.size(); ++j) {
                EXPECT_FALSE(reaches(graph, order[j], order[i], 0));
            }
        }
    }
}

TEST(RouteGraph, AFaultyGraphIsNamed) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 200; ++trial) {
        const uint32_t routes = 2 + below(&random, 10);
        RouteGraph graph = drawn_graph(&random, routes, 0.3);
        const uint32_t from = below(&random, routes);
        const uint32_t to = below(&random, routes);
        graph.feeds[from].push_back(to); // may close a cycle
        const bool cycle = from == to || reaches(graph, to, from, 0);
        const RouteGraphCheck check = route_graph_check(&graph);
        EXPECT_EQ(check.fault, cycle ? GRAPH_CYCLE : GRAPH_SOUND) << trial;
        const std::vector<uint32_t> named = route_cycle(&graph);
        EXPECT_EQ(named.empty(), !cycle);
        for (size_t i = 0; i < named.size(); ++i) {
            const std::vector<uint32_t>& feeds = graph.feeds[named[i]];
            const uint32_t next = named[(i + 1) % named.size()];
            EXPECT_NE(std::find(feeds.begin(), feeds.end(), next), feeds.end()) << trial;
            EXPECT_LE(named[0], named[i]);
        }
        if (cycle) {
            EXPECT_TRUE(route_order(&graph).empty());
        }
    }
    RouteGraph unknown;
    unknown.feeds = {{1}, {2}};
    EXPECT_EQ(route_graph_check(&unknown).fault, GRAPH_UNKNOWN_ROUTE);
    RouteGraph huge;
    huge.feeds.resize(MAX_ROUTES + 1);
    EXPECT_EQ(route_graph_check(&huge).fault, GRAPH_TOO_MANY);
}

namespace {
struct Trace {
    std::atomic<uint64_t> clock{0};
    std::vector<uint64_t> ran_at;    // the clock when the route ran this period
    std::vector<uint64_t> runs;      // times run, over all periods
    std::vector<uint64_t> period_of; // the period it last ran in
    uint64_t period = 0;
};

void note_run(void* user, uint32_t route) {
    auto* trace = static_cast<Trace*>(user);
    trace->ran_at[route] = trace->clock.fetch_add(1) + 1;
    trace->runs[route] += 1;
    trace->period_of[route] = trace->period;
}
} // namespace

TEST(GraphPeriod, ThreeThreadsRunEveryRouteOnceAfterItsInputs) {
    std::mt19937 random(3);
    for (int graphs = 0; graphs < 6; ++graphs) {
        const uint32_t routes = 1 + below(&random, 40);
        const RouteGraph graph = drawn_graph(&random, routes, 0.15);
        GraphPeriod period;
        ASSERT_TRUE(graph_period_prepare(&period, &graph));
        Trace trace;
        trace.ran_at.assign(routes, 0);
        trace.runs.assign(routes, 0);
        trace.period_of.assign(routes, 0);
        constexpr uint64_t PERIODS = 400;
        std::atomic<uint64_t> checked{0}; // periods the main thread has checked
        std::atomic<uint64_t> enders{0};  // calls that ended their period's last route
        auto take_part = [&]() {
            for (uint64_t p = 0; p < PERIODS; ++p) {
                while (checked.load() < p) {
                }
                enders += graph_period_run(&period, p, note_run, &trace) ? 1 : 0;
            }
        };
        std::thread a(take_part);
        std::thread b(take_part);
        for (uint64_t p = 0; p < PERIODS; ++p) {
            while (checked.load() < p) {
            }
            enders += graph_period_run(&period, p, note_run, &trace) ? 1 : 0;
            while (!graph_period_ended(&period, p)) {
            }
            for (uint32_t r = 0; r < routes; ++r) {
                ASSERT_EQ(trace.runs[r], p + 1) << "route " << r << " period " << p;
                ASSERT_EQ(trace.period_of[r], p);
                for (uint32_t to : graph.feeds[r]) {
                    ASSERT_LT(trace.ran_at[r], trace.ran_at[to]);
                }
            }
            trace.period = p + 1;
            checked.store(p + 1);
        }
        a.join();
        b.join();
        EXPECT_EQ(enders.load(), PERIODS);
    }
}
