// How the reports name missed periods' causes and the system's dropouts,
// shared by the text, the JSON and the picture.
#pragma once

#include "engine/realtime/miss_cause.h"
#include "engine/realtime/plugin_cost.h"
#include "engine/realtime/realtime_run.h"
#include "readiness/readiness.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// "late wake-up", "preempted"...; a preemption by its source where known.
const char* cause_words(MissCause cause);
const char* source_words(PreemptSource source);

// "2 hypervisor, 1 late wake-up": the largest first; "" when none.
std::string miss_breakdown(const MissCounts* counts);

// A load as the tables and verdicts name it: its name when it fits a
// column, else its key ("plugins1"), which the plan's lines spell out.
constexpr size_t LOAD_LABEL_WIDTH = 16;
std::string load_label(const RtLoad* load);
// A load's offline cost a stream at each buffer size the run measured.
std::vector<PluginCost> load_costs(const RtRunResult* result, uint32_t index);

// The verdict on one buffer size and core count: "256 samples, 1 core:
// ZEM-2 9,200 streams fit; dropouts about 3 a minute, mostly from the
// hypervisor (...) [2 hypervisor, 1 late wake-up]".
std::string buffer_summary(const RtPlan* plan, const RtConfigResult* config,
                           const ReadinessReport* readiness);

nlohmann::ordered_json misses_json(const MissCounts* counts);
