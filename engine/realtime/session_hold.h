// A session held on our own clock as a DAW's engine runs it: threads pinned
// one a core at real-time priority wake at every period's start and run the
// route graph together; the period ends when its last route does, and it
// is missed when that end is past the next period's start. Run with no
// session, the same loop is the idle system the hold is judged against: a
// graph of one route that does nothing, ended by the first thread awake.
// The threads only sleep, run routes and write into the arrays placed for
// them, which may be memory a parent process reads: the hold can then be
// judged, and where it stopped told, even when a plugin took its process
// down.
#pragma once

#include "engine/realtime/session_rig.h"
#include "platform/platform_realtime.h"

#include <cstddef>
#include <cstdint>

struct SessionHoldPlan {
    uint32_t threads;
    const uint32_t* processors; // each thread's logical processor
    uint64_t periods;
    int64_t period_ns;
    // The caller's thread waits here while the hold runs; a stop signal it
    // returns ends the hold at the next period.
    int (*wait_for_stop)(int64_t timeout_ms);
};

// A hold's record and where its periods go; plain, so that it can live in
// memory shared with another process.
struct SessionHold {
    uint64_t periods;
    uint32_t routes, links, threads;
    int64_t* end_ns;   // [period]: its last route's end, from its start; -1 none
    int64_t* route_ns; // [period * routes + route]: each route's time
    int64_t* link_ns;  // [period * links + link]: each plugin's time
    int64_t* wake_ns;  // [period * threads + thread]: when it woke, from the start
    RouteSpot* spots;  // [thread]: where each thread is
    uint64_t ran;      // periods that ended, in a row from the first
    uint64_t missed;   // of those, the periods whose last route ended late
    RtStep pin;        // the first thread's set-up
    RtStep priority;
    int stop_signal;
};

// The bytes a hold of this shape takes, and the hold placed in `memory`
// (that many bytes, 8-aligned), every period not yet run.
size_t session_hold_bytes(uint64_t periods, uint32_t routes, uint32_t links, uint32_t threads);
void session_hold_place(SessionHold* hold, void* memory, uint64_t periods, uint32_t routes,
                        uint32_t links, uint32_t threads);

// A hold that has run this many times its length (and a second) is
// stopped: a session that slow does not play, and what it ran says so.
constexpr int64_t SESSION_HOLD_LENGTHS = 3;

// Runs the hold placed for `plan` (rig nullptr: the idle system, one route
// and no plugin). Threads that cannot start leave the hold to those
// that did; none started: false.
bool session_hold_run(SessionRig* rig, const SessionHoldPlan* plan, SessionHold* hold);

// `ran` and `missed` from the periods' ends, as far as they go: what a
// hold's process wrote before it ended, however it ended.
void session_hold_count(SessionHold* hold, int64_t period_ns);
