// Command line of the console runner.
#pragma once

#include "engine/worker_control.h"

#include <cstdint>
#include <string>

struct CliOptions {
    int64_t filter_ms; // ZEM-1 and ZEM-2 each; ZEM-M runs twice as long
    uint32_t repeat;
    bool json;
    bool help;
    bool version;
};

constexpr int64_t DEFAULT_FILTER_MS = SLOT_UNIT_MS;
constexpr double MAX_SECONDS = 3600.0;
constexpr uint32_t MAX_REPEAT = 1000;

// Parses argv into `options`. On bad input returns false with a one-line
// description of the problem in `problem`.
bool parse_cli_options(int argc, const char* const* argv, CliOptions* options,
                       std::string* problem);

extern const char* const CLI_USAGE;
