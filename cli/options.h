// Command line of the console runner: the throughput run (the three tests
// on the desktop program's schedule) and the `realtime` subcommand, parsed
// with CLI11.
#pragma once

#include "engine/realtime/realtime_run.h"
#include "engine/worker_control.h"

#include <cstdint>
#include <string>

struct CliOptions {
    int64_t filter_ms; // ZEM-1 and ZEM-2 each; ZEM-M runs twice as long
    uint32_t repeat;
    bool json;
    bool help;
    bool version;
    bool realtime; // the realtime subcommand was given
    RtPlan plan;   // its plan
    std::string svg_path;
    std::string server;     // "jack": inside the audio server's cycle; "": our own clock
    std::string connect;    // the port to connect our output to, with --server
    uint32_t expect_frames; // --buffers given with --server: the size to find there; 0 none
    uint32_t expect_rate;   // --rate given with --server: the rate to find there; 0 none
    std::string help_text;  // what --help prints (the subcommand's when given after it)
};

constexpr int64_t DEFAULT_FILTER_MS = SLOT_UNIT_MS;
constexpr double MAX_SECONDS = 3600.0;
constexpr uint32_t MAX_REPEAT = 1000;

// The real-time mode's defaults. The confirm length keeps a whole default
// run (5 buffer sizes, 1 core and all cores, three tests) within about ten
// minutes.
constexpr double DEFAULT_CONFIRM_SECONDS = 10.0;
constexpr double DEFAULT_IDLE_SECONDS = 5.0;
constexpr uint32_t DEFAULT_RATE = 48000;

// Parses argv into `options`. On bad input returns false with a one-line
// description of the problem in `problem`.
bool parse_cli_options(int argc, const char* const* argv, CliOptions* options,
                       std::string* problem);
