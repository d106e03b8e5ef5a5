#include "engine/realtime/session_hold.h"

#include "platform/platform_engine.h"
#include "platform/platform_realtime.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

namespace {
// The threads start this long before the first period, so that each has
// pinned itself and raised its priority by then.
constexpr int64_t LEAD_IN_NS = 20'000'000;
constexpr int64_t HOLD_MARGIN_NS = 1'000'000'000;

struct HoldShared {
    SessionRig* rig;
    GraphPeriod* period;
    const SessionHoldPlan* plan;
    SessionHold* hold;
    int64_t origin_ns;
    uint32_t routes;
    std::atomic<int32_t> halt{0};
    std::atomic<uint32_t> finished{0};
};

struct ThreadRun {
    HoldShared* shared;
    uint32_t index;
    int64_t* row;   // this period's row of route times
    int64_t* links; // and of plugin times
};

void idle_route(void*, uint32_t) {}

void timed_route(void* user, uint32_t route) {
    auto* run = static_cast<ThreadRun*>(user);
    run->row[route] = session_rig_run_route(run->shared->rig, route, run->links,
                                            &run->shared->hold->spots[run->index]);
}

void run_periods(ThreadRun* run, RtTimer* timer) {
    HoldShared* shared = run->shared;
    const SessionHoldPlan* plan = shared->plan;
    for (uint64_t k = 0; k < plan->periods && shared->halt.load() == 0; ++k) {
        const int64_t start = shared->origin_ns + static_cast<int64_t>(k) * plan->period_ns;
        rt_sleep_until(timer, start);
        shared->hold->wake_ns[k * plan->threads + run->index] = rt_now_ns() - start;
        // A period begins once the one before has ended, however late.
        while (k > 0 && !graph_period_ended(shared->period, k - 1) && shared->halt.load() == 0) {
        }
        if (shared->halt.load() != 0) {
            return;
        }
        run->row = shared->hold->route_ns + k * shared->routes;
        run->links = shared->hold->link_ns + k * shared->hold->links;
        const bool ended_last = shared->rig == nullptr
                                    ? graph_period_run(shared->period, k, idle_route, nullptr)
                                    : graph_period_run(shared->period, k, timed_route, run);
        if (ended_last) {
            shared->hold->end_ns[k] = rt_now_ns() - start;
        }
    }
}

uint32_t hold_thread(void* parameter) {
    auto* run = static_cast<ThreadRun*>(parameter);
    SessionHold* hold = run->shared->hold;
    RtStep pin{};
    RtStep priority{};
    RtStep slack{};
    RtStep denormals{};
    RtStep timer_step{};
    rt_pin_thread(run->shared->plan->processors[run->index], &pin);
    rt_raise_priority(&priority);
    rt_min_timer_slack(&slack);
    rt_flush_denormals(&denormals);
    RtTimer* timer = rt_timer_open(&timer_step);
    if (run->index == 0) {
        hold->pin = pin;
        hold->priority = priority;
    }
    run_periods(run, timer);
    rt_timer_close(timer);
    rt_drop_priority();
    run->shared->finished.fetch_add(1, std::memory_order_release);
    return 0;
}
} // namespace

size_t session_hold_bytes(uint64_t periods, uint32_t routes, uint32_t links, uint32_t threads) {
    const uint64_t values = periods * (1 + routes + links + threads);
    return static_cast<size_t>(values) * sizeof(int64_t) + threads * sizeof(RouteSpot);
}

void session_hold_place(SessionHold* hold, void* memory, uint64_t periods, uint32_t routes,
                        uint32_t links, uint32_t threads) {
    *hold = SessionHold{};
    hold->periods = periods;
    hold->routes = routes;
    hold->links = links;
    hold->threads = threads;
    auto* values = static_cast<int64_t*>(memory);
    hold->end_ns = values;
    hold->route_ns = hold->end_ns + periods;
    hold->link_ns = hold->route_ns + periods * routes;
    hold->wake_ns = hold->link_ns + periods * links;
    std::fill_n(hold->end_ns, periods, -1); // -1: the period did not end
    std::fill_n(hold->route_ns, periods * (routes + links), 0);
    std::fill_n(hold->wake_ns, periods * threads, INT64_MAX);
    hold->spots = reinterpret_cast<RouteSpot*>(hold->wake_ns + periods * threads);
    for (uint32_t t = 0; t < threads; ++t) {
        new (&hold->spots[t]) RouteSpot{};
    }
}

void session_hold_count(SessionHold* hold, int64_t period_ns) {
    hold->ran = 0;
    hold->missed = 0;
    while (hold->ran < hold->periods && hold->end_ns[hold->ran] >= 0) {
        hold->missed += hold->end_ns[hold->ran] > period_ns ? 1u : 0u;
        ++hold->ran;
    }
}

bool session_hold_run(SessionRig* rig, const SessionHoldPlan* plan, SessionHold* hold) {
    GraphPeriod idle_period;
    RouteGraph one_route;
    one_route.feeds.resize(1);
    if (rig == nullptr && !graph_period_prepare(&idle_period, &one_route)) {
        return false;
    }
    GraphPeriod* period = rig == nullptr ? &idle_period : &rig->period;
    const uint32_t routes = rig == nullptr ? 1 : period->routes;
    if (hold->routes != routes || hold->threads < plan->threads || hold->periods < plan->periods) {
        return false; // placed for another hold
    }
    // The graph's counters carry on from the last hold: start it afresh.
    if (rig != nullptr && !graph_period_prepare(period, &rig->graph)) {
        return false;
    }
    HoldShared shared{rig, period, plan, hold, rt_now_ns() + LEAD_IN_NS, routes};
    const int64_t deadline =
        shared.origin_ns +
        SESSION_HOLD_LENGTHS * static_cast<int64_t>(plan->periods) * plan->period_ns +
        HOLD_MARGIN_NS;
    hold->stop_signal = 0;
    std::vector<ThreadRun> runs(plan->threads);
    std::vector<PlatformThread*> threads(plan->threads, nullptr);
    uint32_t started = 0;
    for (uint32_t t = 0; t < plan->threads; ++t) {
        runs[t] = ThreadRun{&shared, t, nullptr, nullptr};
        threads[t] = platform_thread_start_with(hold_thread, &runs[t]);
        started += threads[t] != nullptr ? 1u : 0u;
    }
    // Polled, so that a stop is taken within a slice whatever the threads do.
    constexpr int64_t STOP_SLICE_MS = 50;
    while (shared.finished.load(std::memory_order_acquire) < started) {
        const int signal_number = plan->wait_for_stop(STOP_SLICE_MS);
        if (signal_number != 0) {
            hold->stop_signal = signal_number;
            shared.halt.store(1);
        } else if (rt_now_ns() > deadline) {
            shared.halt.store(1);
        }
    }
    for (PlatformThread* thread : threads) {
        if (thread != nullptr) {
            platform_thread_wait(thread);
            platform_thread_close(thread);
        }
    }
    // Read once every thread has ended: each period's end was written by the
    // one thread that ended it.
    session_hold_count(hold, plan->period_ns);
    return started > 0;
}
