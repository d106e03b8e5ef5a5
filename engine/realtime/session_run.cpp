#include "engine/realtime/session_run.h"

#include "engine/realtime/child_words.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/session_child.h"
#include "platform/platform_engine.h"

#include <cmath>
#include <cstring>

namespace {
uint64_t periods_in(double seconds, uint32_t frames, uint32_t rate) {
    return static_cast<uint64_t>(std::ceil(seconds * rate / frames));
}

// "route Room, plugin Dragonfly Room Reverb": where a thread was.
std::string spot_words(const SessionRun* run, uint32_t route, uint32_t link) {
    std::string words = "route " + run->route_names[route - 1];
    const std::vector<std::string>& plugins = run->plugin_names[route - 1];
    if (link > 0 && link <= plugins.size()) {
        words += ", plugin " + plugins[link - 1];
    } else if (plugins.size() == 1) {
        words += ", plugin " + plugins[0];
    }
    return words;
}

// Where the child's threads were when it ended: every route one ran.
std::string where_words(const SessionRun* run, const SizeShared* shared) {
    std::string words;
    auto add = [&](const RouteSpot& spot) {
        const uint32_t route = spot.route.load();
        if (route == 0 || route > run->route_names.size()) {
            return;
        }
        const std::string here = spot_words(run, route, spot.link.load());
        if (words.find(here) == std::string::npos) {
            words += (words.empty() ? "" : " or ") + here;
        }
    };
    add(shared->opening);
    for (uint32_t t = 0; t < shared->hold.threads; ++t) {
        add(shared->hold.spots[t]);
    }
    return words;
}

// "route Room, plugin ZEM test crash later: crashed with signal 11
// (SIGSEGV) in the hold at 256 samples, in its period 13 of 188".
std::string failure_words(const SessionRun* run, SizeShared* shared, const ChildEnd* end,
                          const SizeOrder* order) {
    std::string words = where_words(run, shared);
    words = (words.empty() ? "while no route of the session ran, " : words + ": ") +
            child_end_words(end, "the session's process") + " at " + std::to_string(order->frames) +
            " samples";
    if (std::strcmp(end->stage, "the hold") == 0) {
        session_hold_count(&shared->hold, order->period_ns);
        words += ", in its period " + std::to_string(shared->hold.ran + 1) + " of " +
                 std::to_string(order->periods);
    }
    return words;
}

void take_notes(const SizeShared* shared, SessionRun* run) {
    const char* line = shared->notes;
    while (*line != '\0') {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) {
            break;
        }
        run->notes.emplace_back(line, end);
        line = end + 1;
    }
}

bool run_size(PluginHost* host, const Session* session, const SessionRunPlan* plan, uint32_t frames,
              SessionRun* run) {
    const auto rate = static_cast<uint32_t>(session->sample_rate);
    const SizeOrder order{host,
                          session,
                          frames,
                          plan->threads,
                          plan->processors,
                          periods_in(plan->warm_seconds, frames, rate),
                          periods_in(plan->hold_seconds, frames, rate),
                          grid_period_ns(frames, rate),
                          plan->wait_for_stop};
    const std::vector<uint32_t> first_links = session_first_links(session);
    const auto routes = static_cast<uint32_t>(session->routes.size());
    const size_t bytes = size_shared_bytes(&order, routes, first_links.back());
    void* memory = platform_shared_alloc(bytes);
    if (memory == nullptr) {
        run->failure =
            "no memory for the records of the hold at " + std::to_string(frames) + " samples";
        run->failed_frames = frames;
        return false;
    }
    SizeShared* shared = size_shared_place(memory, &order, routes, first_links.back());
    SizeChild child{&order, shared};
    const ChildTask task{run_size_in_child, &child, plan->wait_for_stop, nullptr};
    ChildEnd end;
    int stop_signal = 0;
    platform_run_in_child(&task, &end, &stop_signal);
    const bool whole = end.started && end.signal == 0 && end.exit_status == 0 && shared->finished;
    if (shared->opened && run->notes.empty()) {
        take_notes(shared, run);
    }
    if (end.stopped || stop_signal != 0) {
        run->stop_signal = stop_signal;
    } else if (!whole) {
        run->failure = failure_words(run, shared, &end, &order);
    } else if (!shared->opened) {
        run->failure = shared->failure;
    } else {
        run->stop_signal =
            shared->idle.stop_signal != 0 ? shared->idle.stop_signal : shared->hold.stop_signal;
        if (!shared->held && run->stop_signal == 0) {
            run->failure = "no thread could be started to hold the session";
        } else if (shared->held) {
            const RouteGraph graph = session_route_graph(session);
            SessionVerdict verdict =
                judge_session(&shared->idle, &shared->hold, &graph, first_links, order.periods,
                              order.period_ns, plan->threads, plan->idle_limit);
            verdict.frames = frames;
            run->verdicts.push_back(verdict);
        }
    }
    platform_shared_free(memory, bytes);
    run->failed_frames = run->failure.empty() ? 0 : frames;
    return run->failure.empty() && run->stop_signal == 0;
}

// The routes' names and, for each, its plugins' that run, as the host
// names them (the URI where it has no name).
void name_routes(PluginHost* host, const Session* session, SessionRun* run) {
    run->route_names.clear();
    run->plugin_names.clear();
    for (const SessionRoute& route : session->routes) {
        run->route_names.push_back(route.name);
        std::vector<std::string> names;
        for (const SessionPlugin& plugin : route.plugins) {
            PluginInfo info;
            if (plugin.active) {
                names.push_back(plugin_host_info(host, plugin.uri, &info) && !info.name.empty()
                                    ? info.name
                                    : plugin.uri);
            }
        }
        run->plugin_names.push_back(names);
    }
}
} // namespace

bool run_session(PluginHost* host, const Session* session, const SessionRunPlan* plan,
                 SessionRun* run) {
    name_routes(host, session, run);
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
