#include "session/session.h"

#include "engine/realtime/route_graph.h"

#include <cmath>

namespace {
const char* const ROUTE_KIND_NAMES[ROUTE_KINDS] = {"audio_track", "midi_track", "audio_bus",
                                                   "midi_bus", "master"};

// Long enough to tell routes apart, short enough to keep a problem one line.
constexpr size_t QUOTED_BYTES = 60;

bool refuse(std::string* problem, const std::string& line) {
    *problem = line;
    return false;
}

bool channels_within(const ChannelCounts& counts) {
    return counts.audio >= 0 && counts.audio <= MAX_PLUGIN_CHANNELS && counts.midi >= 0 &&
           counts.midi <= MAX_PLUGIN_CHANNELS;
}

bool route_within(const SessionRoute& route, size_t routes, std::string* problem) {
    const std::string named = "route " + quoted(route.name);
    if (route.plugins.size() > MAX_ROUTE_PLUGINS) {
        return refuse(problem, named + " has " + std::to_string(route.plugins.size()) +
                                   " plugins, more than the " + std::to_string(MAX_ROUTE_PLUGINS) +
                                   " a route may have");
    }
    if (!route_items_within(route, 0, problem)) {
        return false;
    }
    for (const SessionPlugin& plugin : route.plugins) {
        if (plugin.controls.size() > MAX_PLUGIN_CONTROLS) {
            return refuse(problem, named + " has a plugin of more than " +
                                       std::to_string(MAX_PLUGIN_CONTROLS) + " controls");
        }
        if (!channels_within(plugin.inputs) || !channels_within(plugin.outputs)) {
            return refuse(problem, named + " has a plugin configured for more than " +
                                       std::to_string(MAX_PLUGIN_CHANNELS) +
                                       " channels, or fewer than none");
        }
    }
    for (const RouteFeed& feed : route.feeds) {
        if (feed.route >= routes) {
            return refuse(problem, named + " feeds route " + std::to_string(feed.route) +
                                       ", which the session does not hold");
        }
        if (!std::isfinite(feed.gain) || feed.gain < 0.0) {
            return refuse(problem, named + " feeds a route with a gain that is not a finite "
                                           "number of 0 or more");
        }
    }
    return true;
}

// The feeds as the route graph that runs them, whose check names a cycle.
bool acyclic(const Session& session, std::string* problem) {
    RouteGraph graph;
    graph.feeds.resize(session.routes.size());
    for (size_t r = 0; r < session.routes.size(); ++r) {
        for (const RouteFeed& feed : session.routes[r].feeds) {
            graph.feeds[r].push_back(static_cast<uint32_t>(feed.route));
        }
    }
    const std::vector<uint32_t> cycle = route_cycle(&graph);
    if (cycle.empty()) {
        return true;
    }
    if (cycle.size() == 1) {
        return refuse(problem, "route " + quoted(session.routes[cycle[0]].name) + " feeds itself");
    }
    std::string words;
    for (uint32_t r : cycle) {
        words += quoted(session.routes[r].name) + " -> ";
    }
    return refuse(problem, "routes feed each other in a cycle: " + words +
                               quoted(session.routes[cycle[0]].name));
}
} // namespace

bool within_size(uint64_t bytes, std::string* problem) {
    return bytes <= MAX_SESSION_BYTES ||
           refuse(problem, "the file is larger than the " +
                               std::to_string(MAX_SESSION_BYTES >> 20) + " MB a session may be");
}

bool route_items_within(const SessionRoute& route, size_t adding, std::string* problem) {
    if (route.feeds.size() + route.skipped.size() + adding <= MAX_ROUTE_ITEMS) {
        return true;
    }
    return refuse(problem, "route " + quoted(route.name) + " has more than " +
                               std::to_string(MAX_ROUTE_ITEMS) + " feeds and skipped items");
}

const char* route_kind_name(RouteKind kind) {
    return ROUTE_KIND_NAMES[kind];
}

bool route_kind_from_name(const std::string& name, RouteKind* kind) {
    for (int at = 0; at < ROUTE_KINDS; ++at) {
        if (name == ROUTE_KIND_NAMES[at]) {
            *kind = static_cast<RouteKind>(at);
            return true;
        }
    }
    return false;
}

bool check_session(const Session& session, std::string* problem) {
    if (session.sample_rate < 1 || session.sample_rate > MAX_SAMPLE_RATE) {
        return refuse(problem, "the sample rate is " + std::to_string(session.sample_rate) +
                                   " Hz, outside 1 to " + std::to_string(MAX_SAMPLE_RATE));
    }
    if (session.routes.size() > MAX_SESSION_ROUTES) {
        return refuse(problem, "the session has " + std::to_string(session.routes.size()) +
                                   " routes, more than the " + std::to_string(MAX_SESSION_ROUTES) +
                                   " a session may have");
    }
    for (const SessionRoute& route : session.routes) {
        if (!route_within(route, session.routes.size(), problem)) {
            return false;
        }
    }
    return acyclic(session, problem);
}

std::string quoted(const std::string& text) {
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    if (shown.size() > QUOTED_BYTES) {
        size_t cut = QUOTED_BYTES;
        // Never inside a character: the cut text stays UTF-8.
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        shown = shown.substr(0, cut) + "...";
    }
    return "'" + shown + "'";
}
