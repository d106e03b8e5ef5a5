#include "cli/session_command.h"

#include "cli/output.h"
#include "engine/realtime/realtime_run.h"
#include "platform/common/echoed.h"
#include "platform/platform_console.h"
#include "report/session_report.h"
#include "session/session_file.h"
#include "session/session_json.h"

#include <algorithm>
#include <cstdio>

namespace {
// Plugins settle in these seconds of periods run off the clock, before
// the idle run and the hold.
constexpr double WARM_SECONDS = 1.0;
// The idle gate's share of missed periods, as the realtime mode's.
constexpr double IDLE_LIMIT = 0.01;

int save_session(const Session* session, const std::string& path) {
    OutputFile file{};
    if (!output_open(&file, path) || !output_finish(&file, session_json_text(*session))) {
        std::fprintf(stderr, "test_zem_cli: could not write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
} // namespace

int run_session_command(const CliOptions* options) {
    const SessionAsk* ask = &options->session;
    Session session;
    std::string problem;
    if (!read_session_path(ask->path, &session, &problem)) {
        std::fprintf(stderr, "test_zem_cli: %s: %s\n", echoed(ask->path).c_str(), problem.c_str());
        return 2;
    }
    if (!ask->save_path.empty()) {
        return save_session(&session, ask->save_path);
    }
    RtCores cores;
    find_cores(&cores);
    if (ask->cores > cores.count) {
        std::fprintf(stderr,
                     "test_zem_cli: --cores asks for more than this machine's %u physical cores\n",
                     cores.count);
        return 2;
    }
    // Opened first, so that a bad path costs no run.
    OutputFile svg{};
    if (!output_open(&svg, options->svg_path)) {
        return 2;
    }
    PluginHost* host = plugin_host_open(&problem);
    if (host == nullptr) {
        std::fprintf(stderr, "test_zem_cli: %s\n", problem.c_str());
        output_abandon(&svg);
        return 1;
    }
    MachineReport machine{};
    describe_machine(&machine);
    RtStep locked{};
    rt_lock_memory(&locked);
    const SessionRunPlan plan{ask->buffers,         ask->cores == 0 ? cores.count : ask->cores,
                              cores.processors,     ask->hold_seconds,
                              WARM_SECONDS,         IDLE_LIMIT,
                              console_wait_for_stop};
    SessionRun run;
    run_session(host, &session, &plan, &run);
    plugin_host_close(host);
    if (options->json) {
        std::fputs(session_json(&machine, &session, &run).c_str(), stdout);
    } else {
        print_machine_text(stdout, &machine);
        std::fputs(session_text(&session, &run).c_str(), stdout);
    }
    int status = stdout_finish() ? 0 : 1;
    if (!output_finish(&svg, session_svg(&machine, &session, &run))) {
        status = 1;
    }
    if (!run.failure.empty()) {
        std::fprintf(stderr, "test_zem_cli: %s\n", run.failure.c_str());
        status = 1;
    }
    return run.stop_signal != 0 ? 128 + run.stop_signal : status;
}
