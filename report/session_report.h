// A session's report: what was read (routes, plugins, what was skipped and
// why), then at each buffer size whether it plays, how much of the period
// it used, the chain of routes that bounds the period, each route's time
// and which route each missed period names; and the verdict in one
// sentence. As text, as one JSON document, and as a picture.
#pragma once

#include "engine/realtime/session_run.h"
#include "report/machine.h"
#include "session/session.h"

#include <string>

// "plays at 256 and above; at 128 the route Reverb (Dragonfly Room) takes
// 41 % of the period".
std::string session_verdict(const SessionRun* run);

// The text after the machine's block, which the caller prints first.
std::string session_text(const Session* session, const SessionRun* run);
std::string session_json(const MachineReport* machine, const Session* session,
                         const SessionRun* run);
// Each size's verdict in words, where its hold's and idle run's periods
// ended as shares of the period, and its costliest routes' times, in SVG.
std::string session_svg(const MachineReport* machine, const Session* session,
                        const SessionRun* run);
