// The verdict on one buffer size and core count, one sentence shared by the
// text, the JSON and the picture.
#pragma once

#include "engine/realtime/realtime_plan.h"
#include "engine/realtime/realtime_run.h"
#include "readiness/readiness.h"

#include <string>

// "256 samples, 1 core: ZEM-2 9,200 streams fit; dropouts about 3 a minute,
// mostly from the hypervisor (...) [2 hypervisor, 1 late wake-up]".
std::string buffer_summary(const RtPlan* plan, const RtConfigResult* config,
                           const ReadinessReport* readiness);
