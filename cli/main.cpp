// test_zem_cli: the benchmark without a window. Runs the three tests with the
// desktop program's schedule and prints the panel's tables, or JSON; the
// subcommands have commands of their own.
#include "cli/check_command.h"
#include "cli/compare_command.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/plugins_command.h"
#include "cli/realtime_command.h"
#include "cli/session_command.h"
#include "engine/measure_state.h"
#include "platform/platform_console.h"
#include "report/throughput_report.h"
#include "resources/version.h"
#include "sequencer/schedule_run.h"

#include <cstdio>
#include <vector>

namespace {
LoopTrace* const TRACES[SCHEDULED_TESTS] = {&measure_state.int_trace, &measure_state.float_trace,
                                            &measure_state.mix_trace};

constexpr int64_t PROGRESS_EVERY_MS = 500;

int64_t now_ms() {
    return platform_counter_now() / (measure_state.counter_frequency / 1000);
}

// One line on the terminal, rewritten in place and cleared when a test ends.
void show_progress(const char* name, int64_t done_ms, int64_t slot_ms) {
    if (done_ms >= slot_ms) {
        std::fputs("\r\033[K", stderr);
        return;
    }
    std::fprintf(stderr, "\r%s  %6.1f s of %.1f s ", name, static_cast<double>(done_ms) / 1000.0,
                 static_cast<double>(slot_ms) / 1000.0);
}

int run_once(const CliOptions* options, bool progress, RunRecord* run) {
    for (LoopTrace* trace : TRACES) {
        *trace = LoopTrace{0, -1, 0};
    }
    const ScheduleHost host{now_ms, console_wait_for_stop, progress ? show_progress : nullptr,
                            PROGRESS_EVERY_MS};
    bool whole[SCHEDULED_TESTS] = {};
    const int signal_number = run_schedule(&host, options->filter_ms, whole);
    *run = take_run_record(&measure_state, whole);
    return signal_number;
}
} // namespace

int main(int argc, char** argv) {
    CliOptions options{};
    std::string problem;
    if (!parse_cli_options(argc, argv, &options, &problem)) {
        std::fprintf(stderr, "test_zem_cli: %s (see 'test_zem_cli --help')\n", problem.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(options.help_text.c_str(), stdout);
        return stdout_finish() ? 0 : 1;
    }
    if (options.version) {
        std::printf("test_zem_cli %s\n", ZEM_VERSION_TEXT);
        return stdout_finish() ? 0 : 1;
    }
    if (options.command == CLI_CHECK) {
        return run_check_command(options.json);
    }
    if (options.command == CLI_COMPARE) {
        return run_compare_command(options.compare_files, options.json, options.svg_path);
    }
    if (options.command == CLI_PLUGINS) {
        return run_plugins_command(options.json);
    }

    // Blocked before any thread starts, so that every thread inherits it and
    // the stop signals are only ever collected by console_wait_for_stop.
    console_block_stop_signals();
    if (options.command == CLI_REALTIME) {
        return run_realtime_command(&options);
    }
    if (options.command == CLI_SESSION) {
        return run_session_command(&options);
    }
    if (!read_counter_frequency()) {
        std::fputs("test_zem_cli: Counter not available on this computer\n", stderr);
        return 1;
    }
    const bool progress = console_stderr_is_terminal();
    MachineReport machine{};
    describe_machine(&machine);
    if (!options.json) {
        print_machine_text(stdout, &machine);
    }
    std::vector<RunRecord> runs;
    int signal_number = 0;
    for (uint32_t r = 0; r < options.repeat && signal_number == 0; ++r) {
        RunRecord run{};
        signal_number = run_once(&options, progress, &run);
        runs.push_back(run);
        if (options.json) {
            print_run_json(stdout, &run, &machine);
            // Each line goes out as its run ends; once one cannot, no more runs.
            if (!stdout_finish()) {
                return 1;
            }
        }
    }
    if (!options.json) {
        print_throughput_text(stdout, runs, options.repeat);
    }
    int status = stdout_finish() ? 0 : 1;
    return signal_number == 0 ? status : 128 + signal_number;
}
