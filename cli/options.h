// Command line of the console runner: the throughput run (the three tests
// on the desktop program's schedule) and the `realtime`, `check`, `compare`,
// `plugins` and `session` subcommands, parsed with CLI11.
#pragma once

#include "engine/realtime/realtime_run.h"
#include "engine/worker_control.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int64_t DEFAULT_FILTER_MS = SLOT_UNIT_MS;
constexpr double MAX_SECONDS = 3600.0;
constexpr uint32_t MAX_REPEAT = 1000;

enum CliCommand : int32_t {
    CLI_THROUGHPUT,
    CLI_REALTIME,
    CLI_CHECK,
    CLI_COMPARE,
    CLI_PLUGINS,
    CLI_SESSION
};

// What `session` was asked.
struct SessionAsk {
    std::string path;
    std::vector<uint32_t> buffers{128, 256, 512, 1024};
    uint32_t cores = 0; // 0: one thread a physical core
    double hold_seconds = 3.0;
    std::string save_path; // --save-session: the session as our JSON, and no run
};

struct CliOptions {
    CliCommand command = CLI_THROUGHPUT;
    int64_t filter_ms = DEFAULT_FILTER_MS; // ZEM-1 and ZEM-2 each; ZEM-M runs twice as long
    uint32_t repeat = 1;
    bool json = false;
    bool progress_lines = false; // realtime: each step on a line of its own, terminal or not
    bool help = false;
    bool version = false;
    RtPlan plan; // realtime's plan
    std::string svg_path;
    std::string server;         // "jack": inside the audio server's cycle; "": our own clock
    std::string connect;        // the port to connect our output to, with --server
    uint32_t expect_frames = 0; // --buffers given with --server: the size to find there; 0 none
    uint32_t expect_rate = 0;   // --rate given with --server: the rate to find there; 0 none
    std::vector<std::string> compare_files;
    SessionAsk session;
    std::string help_text; // what --help prints (the subcommand's when given after it)
};

// Parses argv into `options`. On bad input returns false with a one-line
// description of the problem in `problem`.
bool parse_cli_options(int argc, const char* const* argv, CliOptions* options,
                       std::string* problem);
