// The real-time text report's details and its chains' offline cost lines,
// printed under its table and verdicts.
#pragma once

#include "engine/realtime/realtime_plan.h"
#include "engine/realtime/realtime_run.h"

#include <cstdio>

// Per buffer size and core count, each trial's figures and what its search
// found.
void print_realtime_details(FILE* out, const RtPlan* plan, const RtRunResult* result);

// Each chain's offline cost of one instance a block over the run's buffer
// sizes, as a line A + B·n.
void print_realtime_cost_lines(FILE* out, const RtPlan* plan, const RtRunResult* result);
