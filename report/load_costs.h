// A load's offline cost a stream at each buffer size the run measured, for
// the text's and the JSON's cost line.
#pragma once

#include "engine/realtime/plugin_cost.h"
#include "engine/realtime/realtime_run.h"

#include <cstdint>
#include <vector>

std::vector<PluginCost> load_costs(const RtRunResult* result, uint32_t index);
