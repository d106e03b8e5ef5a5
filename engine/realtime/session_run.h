// A session judged at every buffer size asked, as its DAW would run it:
// opened once a size, warmed off the clock, then the idle system held as
// long as the session will be, then the session itself, both on the same
// processors; the verdict of each size from those two holds alone. Each
// size runs in a child process: a plugin that crashes or hangs there is
// named with its route, and the run ends without a verdict for that size.
#pragma once

#include "engine/realtime/session_judge.h"
#include "platform/platform_plugins.h"
#include "session/session.h"

#include <cstdint>
#include <string>
#include <vector>

struct SessionRunPlan {
    std::vector<uint32_t> buffers;
    uint32_t threads;
    const uint32_t* processors; // each thread's logical processor
    double hold_seconds;        // the hold at each size, and the idle run before it
    double warm_seconds;        // periods run off the clock first, so that plugins settle
    double idle_limit;          // the idle gate's share of missed periods
    int (*wait_for_stop)(int64_t timeout_ms);
};

struct SessionRun {
    std::vector<SessionVerdict> verdicts; // one a size, in the plan's order
    std::vector<std::string> route_names;
    std::vector<std::vector<std::string>> plugin_names; // [route]: its plugins that run
    std::vector<std::string> notes;                     // what opening applied, from the first size
    std::string failure;                                // why the run could not go on; "" none
    uint32_t failed_frames = 0;                         // the size it could not go on at; 0 none
    int stop_signal = 0;
};

// False when a route could not be opened or its process failed (failure
// names the route and plugin) or a stop came.
bool run_session(PluginHost* host, const Session* session, const SessionRunPlan* plan,
                 SessionRun* run);

// The smallest size that played, 0 for none.
uint32_t smallest_playing(const SessionRun* run);
