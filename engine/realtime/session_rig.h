// A session opened to run as a DAW runs it: each route's chain of plugins
// opened once, with its settings and saved states; a track fed pink noise
// or, for MIDI tracks, the note pattern; a bus (and the master) fed the sum
// of the routes that feed it, each at its gain; and the route graph that
// says which route runs after which. Opening and closing belong outside the
// periods; running a route belongs to whichever thread the graph gives it.
#pragma once

#include "engine/realtime/graph_period.h"
#include "engine/realtime/route_graph.h"
#include "platform/platform_plugins.h"
#include "session/session.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Where a thread is: the route it runs and, within it, the plugin, each
// one past its index (0: none). Written as it goes, so that whoever watches
// a process that crashed or hung can say which plugin of which route did.
struct RouteSpot {
    std::atomic<uint32_t> route{0};
    std::atomic<uint32_t> link{0};
};

struct RouteRig {
    std::string name;
    PluginLoad* load = nullptr; // nullptr: a route with no plugin to run, which passes its input on
    uint32_t inputs = 0;        // audio channels its chain takes (or it passes on)
    uint32_t outputs = 0;       // audio channels it gives
    bool summed = false;        // its input is the sum of what feeds it (a bus, the master)
    std::vector<float> passed;  // without plugins: its input, `inputs` channels of a block
    std::vector<uint32_t> from; // the routes that feed it
    std::vector<float> gains;   // and the gain of each
    std::vector<std::string> names; // its plugins' names, in chain order
    uint32_t first_link = 0;        // its first plugin's index among the session's
};

struct SessionRig {
    uint32_t frames = 0;
    uint32_t rate = 0;
    uint32_t links = 0; // plugins run, over every route
    std::vector<RouteRig> routes;
    RouteGraph graph;
    GraphPeriod period;
    std::vector<std::string> notes; // what was applied, one line each
};

// The load order of one route, from the session; pure, so that it can be
// checked without plugins. A MIDI track's plugins hear the note pattern,
// a track pink noise, a bus silence (the rig writes its input).
PluginLoadOrder route_load_order(const SessionRoute& route, uint32_t frames, uint32_t rate);

// The session's routes as a graph: which routes each feeds.
RouteGraph session_route_graph(const Session* session);

// [r]: the index of route r's first plugin that runs, among all the
// session's, and [routes]: how many run; as the rig numbers them.
std::vector<uint32_t> session_first_links(const Session* session);

// Opens every route of `session` at `frames` samples a period into a rig
// not yet open (or closed), each route in `spot` as it opens (nullptr:
// none) and, in a child process, a stage of its own. False, with one line
// naming the route in `problem`, when a route's chain cannot be opened;
// the rig is then closed.
bool session_rig_open(PluginHost* host, const Session* session, uint32_t frames, SessionRig* rig,
                      RouteSpot* spot, std::string* problem);
void session_rig_close(SessionRig* rig);

// Runs route `route` for one period: a summed route first takes the sum of
// what feeds it, then its chain runs one block, plugin by plugin, each
// one's time written to link_ns[its index] and where it is to `spot`
// (either nullptr: not kept). The route's time, in nanoseconds.
int64_t session_rig_run_route(SessionRig* rig, uint32_t route, int64_t* link_ns, RouteSpot* spot);

// A route's audio output for the period it last ran, `frames` samples.
const float* session_rig_output(const SessionRig* rig, uint32_t route, uint32_t channel);
