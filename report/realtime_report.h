// Reports of a real-time run: the text a musician reads at a glance (buffer
// and latency down the side, streams per test across, then the details),
// the JSON document (its schema is in docs/json-reports.md), and the SVG
// picture of every run's histograms. `readiness` holds the system's items,
// judged with what the run was granted and saw.
#pragma once

#include "engine/realtime/realtime_run.h"
#include "readiness/readiness.h"
#include "report/machine.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

void print_realtime_text(FILE* out, const MachineReport* machine, const RtPlan* plan,
                         const RtRunResult* result, const ReadinessReport* readiness);

nlohmann::ordered_json realtime_json(const MachineReport* machine, const RtPlan* plan,
                                     const RtRunResult* result, const ReadinessReport* readiness);

// The picture: per trial shown (each idle run and each test's confirm run),
// a histogram of processing time and one of wake-up lateness, log count
// axis, the period's end marked.
std::string realtime_svg(const MachineReport* machine, const RtPlan* plan,
                         const RtRunResult* result, const ReadinessReport* readiness);
