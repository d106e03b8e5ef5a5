#include "engine/realtime/session_child.h"

#include "platform/platform_engine.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace {
// The stages' allowances past what they are asked to run: a child silent
// longer has hung.
constexpr int64_t STAGE_MARGIN_MS = 10'000;
// The warm-up runs its periods back to back, off the clock; a session far
// slower than real time is not warmed past this many times their length.
constexpr int64_t WARM_LENGTHS = 3;

size_t rounded(size_t bytes) {
    return (bytes + 7) / 8 * 8;
}

int64_t length_ms(uint64_t periods, int64_t period_ns) {
    return static_cast<int64_t>(periods) * period_ns / 1'000'000;
}

// Every route run in the graph's order, off the clock, so that a plugin
// that loads or fills its buffers in its first periods does so here.
void warm(SessionRig* rig, const SizeOrder* order, RouteSpot* spot) {
    const std::vector<uint32_t> routes = route_order(&rig->graph);
    const int64_t deadline =
        rt_now_ns() + WARM_LENGTHS * static_cast<int64_t>(order->warm_periods) * order->period_ns;
    for (uint64_t k = 0; k < order->warm_periods && rt_now_ns() < deadline; ++k) {
        for (uint32_t r : routes) {
            session_rig_run_route(rig, r, nullptr, spot);
        }
    }
}

void keep_notes(const std::vector<std::string>& notes, SizeShared* shared) {
    size_t used = 0;
    for (const std::string& note : notes) {
        if (used + note.size() + 2 > sizeof shared->notes) {
            break; // the rest would not fit: the report names what did
        }
        std::copy(note.begin(), note.end(), shared->notes + used);
        used += note.size();
        shared->notes[used++] = '\n';
    }
    shared->notes[used] = '\0';
}
} // namespace

size_t size_shared_bytes(const SizeOrder* order, uint32_t routes, uint32_t links) {
    return rounded(sizeof(SizeShared)) +
           rounded(session_hold_bytes(order->periods, 1, 0, order->threads)) +
           rounded(session_hold_bytes(order->periods, routes, links, order->threads));
}

SizeShared* size_shared_place(void* memory, const SizeOrder* order, uint32_t routes,
                              uint32_t links) {
    auto* bytes = static_cast<unsigned char*>(memory);
    auto* shared = new (memory) SizeShared{};
    unsigned char* idle = bytes + rounded(sizeof(SizeShared));
    unsigned char* hold = idle + rounded(session_hold_bytes(order->periods, 1, 0, order->threads));
    session_hold_place(&shared->idle, idle, order->periods, 1, 0, order->threads);
    session_hold_place(&shared->hold, hold, order->periods, routes, links, order->threads);
    return shared;
}

uint32_t run_size_in_child(void* parameter) {
    const auto* child = static_cast<const SizeChild*>(parameter);
    const SizeOrder* order = child->order;
    SizeShared* shared = child->shared;
    RtStep lock{};
    rt_lock_memory(&lock); // a forked child does not inherit the parent's lock
    SessionRig rig;
    std::string problem;
    if (!session_rig_open(order->host, order->session, order->frames, &rig, &shared->opening,
                          &problem)) {
        std::snprintf(shared->failure, sizeof shared->failure, "%s", problem.c_str());
        shared->finished = true;
        return 0;
    }
    shared->opened = true;
    keep_notes(rig.notes, shared);
    platform_child_stage("warm-up",
                         WARM_LENGTHS * length_ms(order->warm_periods, order->period_ns) +
                             STAGE_MARGIN_MS);
    warm(&rig, order, &shared->opening);
    const SessionHoldPlan plan{order->threads, order->processors, order->periods, order->period_ns,
                               order->wait_for_stop};
    platform_child_stage("the idle run",
                         length_ms(order->periods, order->period_ns) + STAGE_MARGIN_MS);
    shared->held = session_hold_run(nullptr, &plan, &shared->idle) && shared->idle.stop_signal == 0;
    if (shared->held) {
        platform_child_stage("the hold",
                             SESSION_HOLD_LENGTHS * length_ms(order->periods, order->period_ns) +
                                 STAGE_MARGIN_MS);
        shared->held = session_hold_run(&rig, &plan, &shared->hold);
    }
    platform_child_stage("close", STAGE_MARGIN_MS);
    session_rig_close(&rig);
    shared->finished = true;
    return 0;
}
