#include "engine/realtime/session_rig.h"

#include "platform/platform_engine.h"
#include "platform/platform_realtime.h"

#include <algorithm>
#include <cstdio>

namespace {
// A route's plugins may take this long to open, in a child process, before
// it is taken for a hang: each of them this long.
constexpr int64_t PLUGIN_OPEN_MS = 10'000;

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// The channels a route without plugins passes on: as many as the widest
// route that feeds it, one at least.
uint32_t passed_channels(const SessionRig* rig, const RouteRig& route) {
    uint32_t channels = 1;
    for (uint32_t from : route.from) {
        channels = std::max(channels, rig->routes[from].outputs);
    }
    return channels;
}

bool open_route(PluginHost* host, const SessionRoute& route, uint32_t frames, uint32_t rate,
                uint32_t first_link, SessionRig* rig, RouteRig* out, std::string* problem) {
    const PluginLoadOrder order = route_load_order(route, frames, rate);
    for (const SessionPlugin& plugin : route.plugins) {
        if (!plugin.active) {
            rig->notes.push_back(route.name + ": " + plugin.uri +
                                 " is inactive in the session and is not run");
        }
    }
    if (order.uris.empty()) {
        out->inputs = out->outputs = passed_channels(rig, *out);
        out->passed.assign(static_cast<size_t>(out->inputs) * frames, 0.0f);
        return true;
    }
    PluginLoadFacts facts;
    std::string error;
    out->load = plugin_load_open(host, &order, &facts, &error);
    if (out->load == nullptr) {
        *problem = "route " + route.name + ": " + error;
        return false;
    }
    out->first_link = first_link;
    rig->links += plugin_load_links(out->load);
    out->inputs = facts.chain.front().audio_in;
    out->outputs = facts.outputs;
    for (const ChainLink& link : facts.chain) {
        out->names.push_back(link.name);
    }
    for (const std::string& note : facts.notes) {
        rig->notes.push_back(route.name + ": " + note);
    }
    return true;
}

// A route's channels beyond these are neither summed nor passed on.
constexpr uint32_t MAX_ROUTE_CHANNELS = 64;

// Channel c of a summed input takes the feeder's channel c, the feeder's
// last when it has fewer, and every c + k * inputs when it has more.
void add_feed(float* const* input, uint32_t inputs, const float* const* feed, uint32_t feeds,
              float gain, uint32_t frames) {
    for (uint32_t c = 0; c < std::max(inputs, feeds); ++c) {
        const float* from = feed[std::min(c, feeds - 1)];
        float* to = input[c % inputs];
        if (from == nullptr || to == nullptr) {
            continue;
        }
        for (uint32_t i = 0; i < frames; ++i) {
            to[i] += gain * from[i];
        }
    }
}

// The sum of what feeds `route`, at each feed's gain, into its input.
void sum_feeds(SessionRig* rig, uint32_t route) {
    RouteRig& ours = rig->routes[route];
    const uint32_t inputs = std::min(ours.inputs, MAX_ROUTE_CHANNELS);
    float* input[MAX_ROUTE_CHANNELS] = {};
    for (uint32_t c = 0; c < inputs; ++c) {
        input[c] = ours.load == nullptr ? ours.passed.data() + static_cast<size_t>(c) * rig->frames
                                        : plugin_load_input(ours.load, 0, c);
        if (input[c] != nullptr) {
            std::fill_n(input[c], rig->frames, 0.0f);
        }
    }
    for (size_t f = 0; f < ours.from.size(); ++f) {
        const uint32_t feeds = std::min(rig->routes[ours.from[f]].outputs, MAX_ROUTE_CHANNELS);
        const float* feed[MAX_ROUTE_CHANNELS] = {};
        for (uint32_t c = 0; c < feeds; ++c) {
            feed[c] = session_rig_output(rig, ours.from[f], c);
        }
        if (feeds > 0 && inputs > 0) {
            add_feed(input, inputs, feed, feeds, ours.gains[f], rig->frames);
        }
    }
}
} // namespace

PluginLoadOrder route_load_order(const SessionRoute& route, uint32_t frames, uint32_t rate) {
    PluginLoadOrder order;
    order.frames = frames;
    order.rate = rate;
    order.instances = 1;
    order.input = route.kind == ROUTE_AUDIO_TRACK ? PLUGIN_NOISE : PLUGIN_SILENCE;
    order.notes_to_any_midi = route.kind == ROUTE_MIDI_TRACK || route.kind == ROUTE_MIDI_BUS;
    for (const SessionPlugin& plugin : route.plugins) {
        if (!plugin.active) {
            continue;
        }
        order.uris.push_back(plugin.uri);
        const std::string link = std::to_string(order.uris.size());
        for (const ControlValue& control : plugin.controls) {
            order.settings.push_back(link + ":" + control.symbol + "=" +
                                     number_text(control.value));
        }
        order.saved_states.push_back(plugin.state_path);
    }
    return order;
}

RouteGraph session_route_graph(const Session* session) {
    RouteGraph graph;
    graph.feeds.resize(session->routes.size());
    for (size_t r = 0; r < session->routes.size(); ++r) {
        for (const RouteFeed& feed : session->routes[r].feeds) {
            graph.feeds[r].push_back(static_cast<uint32_t>(feed.route));
        }
    }
    return graph;
}

std::vector<uint32_t> session_first_links(const Session* session) {
    // Numbered in the session's order, whatever order the routes open in.
    std::vector<uint32_t> first(session->routes.size() + 1, 0);
    for (size_t r = 0; r < session->routes.size(); ++r) {
        first[r + 1] = first[r];
        for (const SessionPlugin& plugin : session->routes[r].plugins) {
            first[r + 1] += plugin.active ? 1u : 0u;
        }
    }
    return first;
}

bool session_rig_open(PluginHost* host, const Session* session, uint32_t frames, SessionRig* rig,
                      RouteSpot* spot, std::string* problem) {
    rig->routes.clear();
    rig->notes.clear();
    rig->frames = frames;
    rig->links = 0;
    rig->rate = static_cast<uint32_t>(session->sample_rate);
    rig->graph = session_route_graph(session);
    const size_t routes = session->routes.size();
    rig->routes.resize(routes);
    for (size_t r = 0; r < routes; ++r) {
        const SessionRoute& route = session->routes[r];
        rig->routes[r].name = route.name;
        rig->routes[r].summed = route.kind != ROUTE_AUDIO_TRACK && route.kind != ROUTE_MIDI_TRACK;
        for (const RouteFeed& feed : route.feeds) {
            rig->routes[feed.route].from.push_back(static_cast<uint32_t>(r));
            rig->routes[feed.route].gains.push_back(static_cast<float>(feed.gain));
        }
    }
    if (!graph_period_prepare(&rig->period, &rig->graph)) {
        *problem = "the session's routes do not form a graph that can run (a cycle?)";
        return false;
    }
    const std::vector<uint32_t> first = session_first_links(session);
    // In the graph's order, so that a route without plugins knows how wide
    // the routes that feed it are.
    for (uint32_t r : route_order(&rig->graph)) {
        if (spot != nullptr) {
            spot->route.store(r + 1);
        }
        platform_child_stage(
            "open", PLUGIN_OPEN_MS * std::max<int64_t>(1, static_cast<int64_t>(
                                                              session->routes[r].plugins.size())));
        if (!open_route(host, session->routes[r], frames, rig->rate, first[r], rig, &rig->routes[r],
                        problem)) {
            session_rig_close(rig);
            return false;
        }
        // Each plugin's times are kept by this numbering, so it must hold.
        const uint32_t opened =
            rig->routes[r].load == nullptr ? 0 : plugin_load_links(rig->routes[r].load);
        if (opened != first[r + 1] - first[r]) {
            *problem = "route " + session->routes[r].name + ": " + std::to_string(opened) +
                       " plugins opened of " + std::to_string(first[r + 1] - first[r]);
            session_rig_close(rig);
            return false;
        }
    }
    if (spot != nullptr) {
        spot->route.store(0);
    }
    return true;
}

void session_rig_close(SessionRig* rig) {
    for (RouteRig& route : rig->routes) {
        plugin_load_close(route.load);
        route.load = nullptr;
    }
}

const float* session_rig_output(const SessionRig* rig, uint32_t route, uint32_t channel) {
    const RouteRig& ours = rig->routes[route];
    if (channel >= ours.outputs) {
        return nullptr;
    }
    if (ours.load == nullptr) {
        return ours.passed.data() + static_cast<size_t>(channel) * rig->frames;
    }
    return plugin_load_output(ours.load, 0, channel);
}

int64_t session_rig_run_route(SessionRig* rig, uint32_t route, int64_t* link_ns, RouteSpot* spot) {
    RouteRig& ours = rig->routes[route];
    const int64_t start = rt_now_ns();
    if (spot != nullptr) {
        spot->route.store(route + 1, std::memory_order_relaxed);
    }
    if (ours.summed) {
        sum_feeds(rig, route);
    }
    if (ours.load != nullptr) {
        const uint32_t links = plugin_load_links(ours.load);
        int64_t before = rt_now_ns();
        for (uint32_t s = 0; s < links; ++s) {
            if (spot != nullptr) {
                spot->link.store(s + 1, std::memory_order_relaxed);
            }
            plugin_load_run_link(ours.load, 0, s);
            const int64_t after = rt_now_ns();
            if (link_ns != nullptr) {
                link_ns[ours.first_link + s] = after - before;
            }
            before = after;
        }
        plugin_load_finish_period(ours.load, 1);
    }
    if (spot != nullptr) {
        spot->link.store(0, std::memory_order_relaxed);
        spot->route.store(0, std::memory_order_relaxed);
    }
    return rt_now_ns() - start;
}
