// A session held on our own clock as a DAW's engine runs it: threads pinned
// one a core at real-time priority wake at every period's start and run the
// route graph together; the period ends when its last route does, and it
// is missed when that end is past the next period's start. Run with no
// session, the same loop is the idle system the hold is judged against: a
// graph of one route that does nothing, ended by the first thread awake.
// The threads only sleep, run routes and write into the arrays given.
#pragma once

#include "engine/realtime/session_rig.h"
#include "platform/platform_realtime.h"

#include <atomic>
#include <cstdint>
#include <vector>

struct SessionHoldPlan {
    uint32_t threads;
    const uint32_t* processors; // each thread's logical processor
    uint64_t periods;
    int64_t period_ns;
    // The caller's thread waits here while the hold runs; a stop signal it
    // returns ends the hold at the next period.
    int (*wait_for_stop)(int64_t timeout_ms);
};

struct SessionHold {
    uint64_t ran = 0;              // periods that ended, before any stop
    uint64_t missed = 0;           // of those, the periods whose last route ended late
    std::vector<int64_t> end_ns;   // each period's last route's end, from its start; -1 none
    std::vector<int64_t> route_ns; // period by period, each route's time
    std::vector<int64_t> wake_ns;  // period by period, when each thread woke, from the start
    RtStep pin{};                  // the first thread's set-up
    RtStep priority{};
    int stop_signal = 0;
};

// Runs the hold; rig nullptr runs the idle system. Threads that cannot
// start leave the hold to those that did; none started: false.
bool session_hold_run(SessionRig* rig, const SessionHoldPlan* plan, SessionHold* hold);
