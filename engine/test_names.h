// The three tests' names, one table for the window, the console runner, the
// real-time mode and the reports, so that none of them spells a name apart.
#pragma once

#include <cstdint>

constexpr uint32_t ZEM_TESTS = 3;
// As the tables and the command line show them, and as the JSON keys them.
inline constexpr const char* TEST_NAMES[ZEM_TESTS] = {"ZEM-1", "ZEM-2", "ZEM-M"};
inline constexpr const char* TEST_JSON_NAMES[ZEM_TESTS] = {"zem1", "zem2", "zemm"};
