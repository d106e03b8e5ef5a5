// How the reports name missed periods' causes and the system's dropouts,
// shared by the text, the JSON and the picture.
#pragma once

#include "engine/realtime/miss_cause.h"

#include <nlohmann/json.hpp>

#include <string>

// "late wake-up", "preempted"...
const char* cause_words(MissCause cause);

// "2 hypervisor, 1 late wake-up": the largest first; "" when none.
std::string miss_breakdown(const MissCounts* counts);

nlohmann::ordered_json misses_json(const MissCounts* counts);
