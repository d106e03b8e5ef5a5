// A load as the tables and verdicts name it: its name when it fits a
// column, else its key ("plugins1"), which the plan's lines spell out.
#pragma once

#include "engine/realtime/realtime_plan.h"

#include <cstddef>
#include <string>

constexpr size_t LOAD_LABEL_WIDTH = 16;
std::string load_label(const RtLoad* load);
