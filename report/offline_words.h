// How the reports speak of a chain's offline timing: how long the plugins
// ran before it was timed, and what it shows that a count alone would not
// (a plugin that did no work, or whose cost in a run is not its offline
// cost). Shared by the text, the JSON and the picture.
#pragma once

#include "engine/realtime/realtime_plan.h"
#include "engine/realtime/realtime_run.h"

#include <string>

// A chain whose cost a stream inside the hold is this many times its
// offline cost, or less than its inverse, is flagged: the bound, the
// offline line and the count no longer tell the same story.
// Below OFFLINE_COST_FLOOR_NS of difference a stream, our own bookkeeping
// and the caches decide, not the plugin.
constexpr double OFFLINE_COST_FLAG = 2.0;
constexpr double OFFLINE_COST_FLOOR_NS = 2000.0;

// "sound", "silent", "its input", "its input scaled", "none": what the
// chain gave offline.
const char* output_shape_name(PluginOutputShape shape);

// "settled after 94 blocks", "had not settled after 1,406 blocks (10 s)";
// "" when not timed offline as a chain.
std::string settle_words(const RtLoad* load, const RtTestResult* test);

// What a chain's offline timing flags, each as "; NAME ...", or "": a
// chain that may have done no work (silent, its input unchanged or only
// scaled, though it heard a signal or notes), one that had not settled, and
// one whose cost a stream inside the hold was OFFLINE_COST_FLAG times its
// offline cost or less than its inverse, OFFLINE_COST_FLOOR_NS apart.
std::string offline_flags(const RtLoad* load, const RtTestResult* test);
