// A test implementation of platform/platform_audio_server.h with no server:
// starting the work starts a thread of the client's own that plays a script
// of cycles into it, from the script's beginning, then falls silent until the
// work is removed.
#pragma once

#include "platform/platform_audio_server.h"

#include <vector>

// A start stamped before the previous cycle's work began: the period that
// cycle closes always ends after it.
constexpr int64_t BEFORE_LAST_WORK = INT64_MIN;

// One cycle. Its times count from the clock read as it is delivered (its
// wake-up), which is never before the previous period's work ended.
struct ScriptedCycle {
    uint32_t frames; // other than the format's: the server changed its buffer size
    uint32_t frame_time;
    int64_t start_ns;      // from the wake-up, or BEFORE_LAST_WORK
    int64_t deadline_ns;   // from the start
    int64_t stated_end_ns; // from the start; 0: none stated
    float server_load;
    uint32_t xruns;       // reported during this cycle
    const char* shutdown; // the server goes away after this cycle, saying this
};

struct ServerScript {
    AudioServerFormat format;
    uint32_t xruns; // reported before the work starts
    std::vector<ScriptedCycle> cycles;
};

// The one way to open the scripted client; audio_server_open refuses.
AudioServerClient* scripted_server_open(const ServerScript& script);
