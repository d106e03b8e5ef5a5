#include "engine/realtime/session_run.h"

#include "engine/realtime/period_grid.h"

#include <cmath>

namespace {
uint64_t periods_in(double seconds, uint32_t frames, uint32_t rate) {
    return static_cast<uint64_t>(std::ceil(seconds * rate / frames));
}

// Every route run in the graph's order, off the clock, so that a plugin
// that loads or fills its buffers in its first periods does so here.
void warm(SessionRig* rig, uint64_t periods) {
    const std::vector<uint32_t> order = route_order(&rig->graph);
    for (uint64_t k = 0; k < periods; ++k) {
        for (uint32_t r : order) {
            session_rig_run_route(rig, r);
        }
    }
}

bool run_size(PluginHost* host, const Session* session, const SessionRunPlan* plan, uint32_t frames,
              SessionRun* run) {
    SessionRig rig;
    if (!session_rig_open(host, session, frames, &rig, &run->failure)) {
        return false;
    }
    if (run->route_names.empty()) {
        for (const RouteRig& route : rig.routes) {
            run->route_names.push_back(route.name);
        }
        run->notes = rig.notes;
    }
    warm(&rig, periods_in(plan->warm_seconds, frames, rig.rate));
    const uint64_t periods = periods_in(plan->hold_seconds, frames, rig.rate);
    const int64_t period_ns = grid_period_ns(frames, rig.rate);
    const SessionHoldPlan hold_plan{plan->threads, plan->processors, periods, period_ns,
                                    plan->wait_for_stop};
    SessionHold idle;
    SessionHold hold;
    bool ran = session_hold_run(nullptr, &hold_plan, &idle) && idle.stop_signal == 0 &&
               session_hold_run(&rig, &hold_plan, &hold);
    run->stop_signal = idle.stop_signal != 0 ? idle.stop_signal : hold.stop_signal;
    if (ran) {
        SessionVerdict verdict = judge_session(&idle, &hold, &rig.graph, periods, period_ns,
                                               plan->threads, plan->idle_limit);
        verdict.frames = frames;
        run->verdicts.push_back(verdict);
    } else if (run->stop_signal == 0) {
        run->failure = "no thread could be started to hold the session";
    }
    session_rig_close(&rig);
    return ran && run->stop_signal == 0;
}
} // namespace

bool run_session(PluginHost* host, const Session* session, const SessionRunPlan* plan,
                 SessionRun* run) {
    for (uint32_t frames : plan->buffers) {
        if (!run_size(host, session, plan, frames, run)) {
            return false;
        }
    }
    return true;
}

uint32_t smallest_playing(const SessionRun* run) {
    uint32_t smallest = 0;
    for (const SessionVerdict& verdict : run->verdicts) {
        if (verdict.plays && (smallest == 0 || verdict.frames < smallest)) {
            smallest = verdict.frames;
        }
    }
    return smallest;
}
