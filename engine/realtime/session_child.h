// One buffer size of a session, run in a child process as a DAW would run
// it: the routes opened, warmed off the clock, the idle system held, then
// the session. Everything the parent judges is written to memory the two
// share, as it is measured, so that a plugin that crashes or hangs takes
// down the child alone and leaves behind where it was.
#pragma once

#include "engine/realtime/session_hold.h"
#include "platform/platform_plugins.h"
#include "session/session.h"

#include <cstddef>
#include <cstdint>

constexpr size_t SIZE_FAILURE_BYTES = 512;
constexpr size_t SIZE_NOTES_BYTES = 16384;

// What the child writes for its parent; its holds' arrays follow it.
struct SizeShared {
    bool finished;     // the child got to its end
    bool opened;       // every route opened
    bool held;         // both holds ran
    RouteSpot opening; // where the child's own thread is, opening, warming or closing
    SessionHold idle;
    SessionHold hold;
    char failure[SIZE_FAILURE_BYTES]; // why a route would not open
    char notes[SIZE_NOTES_BYTES];     // what opening applied, a line each
};

struct SizeOrder {
    PluginHost* host;
    const Session* session;
    uint32_t frames;
    uint32_t threads;
    const uint32_t* processors;
    uint64_t warm_periods;
    uint64_t periods;
    int64_t period_ns;
    int (*wait_for_stop)(int64_t timeout_ms);
};

// The shared record for `order` placed in memory of size_shared_bytes.
size_t size_shared_bytes(const SizeOrder* order, uint32_t routes, uint32_t links);
SizeShared* size_shared_place(void* memory, const SizeOrder* order, uint32_t routes,
                              uint32_t links);

// The child's entry: `parameter` is a SizeChild.
struct SizeChild {
    const SizeOrder* order;
    SizeShared* shared;
};
uint32_t run_size_in_child(void* parameter);
