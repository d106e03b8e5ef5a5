#include "cli/realtime_command.h"

#include "cli/output.h"
#include "engine/realtime/clock_driver.h"
#include "engine/realtime/load_checks.h"
#include "engine/realtime/server_driver.h"
#include "platform/platform_audio_server.h"
#include "platform/platform_console.h"
#include "readiness/readiness.h"
#include "report/plugins_report.h"
#include "report/realtime_report.h"
#include "report/realtime_words.h"

#include <cstdio>
#include <memory>

namespace {
// A stop that the run does not take within this is stuck in plugin code.
constexpr int64_t STOP_GRACE_MS = 1500;

void show_progress(void* /*context*/, const char* text) {
    std::fprintf(stderr, "\r%s\033[K", text);
}

// For a log or a script that waits for a step: a line each, flushed.
void show_progress_line(void* /*context*/, const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

// A core count beyond the physical cores is bad input.
bool cores_available(const RtPlan* plan, const RtCores* cores) {
    for (uint32_t choice : plan->core_choices) {
        if (choice != ALL_CORES && choice > cores->count) {
            return false;
        }
    }
    return true;
}

// Connects to the server and makes the plan its own: its buffer size and
// rate, one core. Returns the exit status to give up with, or 0 with the
// client open.
int open_server(const CliOptions* options, RtPlan* plan, AudioServerClient** client) {
    AudioServerError error{};
    if (!audio_server_available(&error)) {
        std::fprintf(stderr, "test_zem_cli: --server jack is not available: %s\n", error.text);
        return 2;
    }
    AudioServerFormat format{};
    *client = audio_server_open("test_zem_cli", &format, &error);
    if (*client == nullptr) {
        std::fprintf(stderr, "test_zem_cli: %s\n", error.text);
        return 1;
    }
    const char* name = audio_server_name(*client);
    if ((options->expect_frames != 0 && options->expect_frames != format.buffer_frames) ||
        (options->expect_rate != 0 && options->expect_rate != format.sample_rate)) {
        std::fprintf(stderr,
                     "test_zem_cli: the %s server runs %u frames at %u Hz, not the --buffers "
                     "or --rate asked: change the server's (jack_bufsize, or PIPEWIRE_QUANTUM "
                     "under pw-jack) or leave them out\n",
                     name, format.buffer_frames, format.sample_rate);
        return 1;
    }
    if (!options->connect.empty() &&
        !audio_server_connect_output(*client, options->connect.c_str(), &error)) {
        std::fprintf(stderr, "test_zem_cli: %s\n", error.text);
        return 1;
    }
    plan->rate = format.sample_rate;
    plan->buffers = {format.buffer_frames};
    plan->core_choices = {1};
    plan->clock = RT_CLOCK_SERVER;
    plan->server_name = name;
    plan->server_output = options->connect;
    return 0;
}

// With a chain of plugins in the plan: the host, with every chain as the
// command line gives it found there. Returns the exit status to give up
// with (2: the command line asks for what is not installed), or 0.
int open_plugins(const RtPlan* plan, PluginHost** host) {
    bool any = false;
    for (const RtLoad& load : plan->loads) {
        any = any || load.kind == RT_PLUGINS;
    }
    if (!any) {
        return 0;
    }
    std::string why;
    *host = plugin_host_open(&why);
    if (*host == nullptr) {
        std::fprintf(stderr, "test_zem_cli: %s\n", why.c_str());
        return 1;
    }
    if (!resolve_plugin_loads(*host, plan, &why)) {
        std::fprintf(stderr, "test_zem_cli: %s\n", why.c_str());
        plugin_host_close(*host);
        *host = nullptr;
        return 2;
    }
    return 0;
}

// The readiness items with what the run was granted and saw, and the effect
// it measured beside the item it backs. A run that ended before it began
// (no memory for its streams) has none.
void judge_readiness(const ReadinessFacts* facts, const RtPlan* plan, const RtRunResult* result,
                     ReadinessReport* readiness) {
    *readiness = ReadinessReport{};
    if (result->elapsed_ns == 0) {
        return;
    }
    ReadinessRun seen;
    for (uint32_t p = 0; p < result->physical_cores && p < MAX_RT_THREADS; ++p) {
        seen.processors.push_back(result->processors[p]);
    }
    seen.sched_fifo = result->thread_steps_known ? result->thread_steps.priority.done : -1;
    seen.mlockall = result->memory_lock.done;
    const bool hold_asked = plan->hold_idle_states && plan->clock == RT_CLOCK_OWN;
    seen.idle_hold = hold_asked ? result->idle_states.done : -1; // not refused: not asked
    seen.steal_ns = result->steal_before_ns >= 0 && result->steal_after_ns >= 0
                        ? result->steal_after_ns - result->steal_before_ns
                        : -1;
    seen.elapsed_ns = result->elapsed_ns;
    readiness_assess(facts, &seen, readiness);
    const IdleStateEffect* effect = &result->idle_effect;
    for (ReadinessItem& item : readiness->items) {
        if (effect->measured && item.name == "cpu_dma_latency") {
            item.effect = "idle floor at " + std::to_string(effect->frames) + " samples: held, " +
                          idle_floor_text(&effect->held) + "; let go, " +
                          idle_floor_text(&effect->free);
        }
    }
}

// Runs the plan on the driver it names and prints the reports. The
// system's facts are read before the run's set-up, as the check would find
// them, and judged after it.
int measure(const CliOptions* options, RtPlan* plan, PeriodDriver* driver, PluginHost* plugins,
            const RtCores* cores, bool loads_fine, OutputFile* svg) {
    MachineReport machine{};
    describe_machine(&machine);
    const bool progress = console_stderr_is_terminal() && !options->progress_lines;
    RtHost host{console_wait_for_stop,
                options->progress_lines ? show_progress_line
                : progress              ? show_progress
                                        : nullptr,
                nullptr,
                plugins,
                cores,
                nullptr};
    auto facts = std::make_unique<ReadinessFacts>();
    readiness_read_facts(facts.get());
    auto result = std::make_unique<RtRunResult>();
    realtime_run(plan, driver, &host, result.get());
    if (progress) {
        std::fputs("\r\033[K", stderr);
    }
    ReadinessReport readiness;
    judge_readiness(facts.get(), plan, result.get(), &readiness);
    for (uint32_t l = 0; l < plan->loads.size(); ++l) {
        for (const RtConfigResult& config : result->configs) {
            const RtTestResult* test = &config.tests[l];
            if (test->failure[0] != '\0') {
                std::fprintf(stderr, "test_zem_cli: %s: failed: %s, trials at %u samples\n",
                             plan->loads[l].name.c_str(), test->failure, config.frames);
                loads_fine = false;
                break;
            }
        }
    }
    if (options->json) {
        std::string text =
            realtime_json(&machine, plan, result.get(), &readiness)
                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        std::fprintf(stdout, "%s\n", text.c_str());
    } else {
        print_realtime_text(stdout, &machine, plan, result.get(), &readiness);
    }
    int status = stdout_finish() ? 0 : 1;
    if (!result->failure.empty()) {
        std::fprintf(stderr, "test_zem_cli: %s\n", result->failure.c_str());
        status = 1;
    }
    if (!output_finish(svg, realtime_svg(&machine, plan, result.get(), &readiness))) {
        status = 1;
    }
    status = loads_fine ? status : 1;
    return result->stop_signal != 0 ? 128 + result->stop_signal : status;
}
} // namespace

int run_realtime_command(const CliOptions* options) {
    RtPlan plan = options->plan;
    RtCores cores;
    find_cores(&cores);
    if (!cores_available(&plan, &cores)) {
        std::fprintf(stderr,
                     "test_zem_cli: --cores asks for more than this machine's %u physical "
                     "cores (see 'test_zem_cli realtime --help')\n",
                     cores.count);
        return 2;
    }
    // The host reads what is installed, and the command line's chains are
    // checked against it before anything is opened or run.
    PluginHost* plugins = nullptr;
    int status = open_plugins(&plan, &plugins);
    if (status != 0) {
        return status;
    }
    OutputFile svg{};
    if (!output_open(&svg, options->svg_path)) {
        plugin_host_close(plugins);
        return 2;
    }
    // The chains are validated in child processes while this process is
    // still one thread: before the audio server's client starts its own.
    bool loads_fine = true;
    if (plugins != nullptr) {
        loads_fine =
            check_plugin_loads(plugins, &plan, plugin_validation_reason, console_wait_for_stop);
        for (const RtLoad& checked : plan.loads) {
            if (checked.failed) {
                std::fprintf(stderr, "test_zem_cli: %s: failed: %s\n", checked.name.c_str(),
                             checked.failure.c_str());
            }
        }
    }
    PeriodDriver driver{};
    if (options->server.empty()) {
        ClockDriver clock{};
        clock_driver_init(&driver, &clock, console_wait_for_stop);
        status = measure(options, &plan, &driver, plugins, &cores, loads_fine, &svg);
    } else {
        // Inside a server the chains run in this process, and plugin code
        // there may never return: a stop must still end the run. (Started
        // after validation, whose children fork from one thread.)
        console_watch_stops(STOP_GRACE_MS);
        AudioServerClient* client = nullptr;
        status = open_server(options, &plan, &client);
        if (status != 0) {
            output_abandon(&svg);
        } else {
            auto server = std::make_unique<ServerDriver>();
            server_driver_init(&driver, server.get(), client, console_wait_for_stop);
            status = measure(options, &plan, &driver, plugins, &cores, loads_fine, &svg);
        }
        audio_server_close(client);
    }
    plugin_host_close(plugins);
    return status;
}
