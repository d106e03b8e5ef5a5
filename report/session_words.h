// What a session's run says at one buffer size, in words: shared by the
// text and the picture, so that both say it alike.
#pragma once

#include "engine/realtime/session_run.h"

#include <string>

// The share of the period `ns` takes, in per cent.
double session_share(double ns, int64_t period_ns);

// "Reverb (Dragonfly Room Reverb)": the route, and its plugins that run.
std::string session_route_words(const SessionRun* run, uint32_t route);

// "At 256 samples (5.33 ms, 2 threads): plays", "does not play", or "not
// sustainable at this buffer on this system".
std::string session_size_words(const SessionVerdict& v);

// "missed 3 of 188 periods (the idle system's allows 1; it missed 1 of 188);
// 2 of them began too late for the routes' usual work to end in time".
std::string session_missed_words(const SessionVerdict& v);

// "period used: median 12 %, worst 140 %".
std::string session_use_words(const SessionVerdict& v);

// "critical path: Guitar -> Room -> Master, 0.412 ms (8 % of the period)".
std::string session_path_words(const SessionRun* run, const SessionVerdict& v);
