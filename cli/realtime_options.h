// The realtime subcommand's options: its CLI11 table, and the plan they
// give once the plan's own rules have been applied to them.
#pragma once

#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <string>

// Options whose values are read after the parse.
struct Bound {
    double seconds = static_cast<double>(DEFAULT_FILTER_MS) / 1000.0;
    CLI::Option* buffers;
    CLI::Option* rate;
    CLI::Option* server;
    CLI::Option* tests;
    RtPlanAsk ask; // what the plan's rules read besides the plan
};

CLI::App* add_realtime(CLI::App* app, CliOptions* options, Bound* bound);
// The realtime plan from what was given: the plan's own rules, then what
// a server must be running.
bool resolve_realtime_plan(Bound* bound, CliOptions* options, std::string* problem);
