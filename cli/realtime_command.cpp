#include "cli/realtime_command.h"

#include "platform/platform_console.h"
#include "report/realtime_report.h"

#include <cstdio>
#include <memory>

namespace {
void show_progress(void* /*context*/, const char* text) {
    std::fprintf(stderr, "\r%s\033[K", text);
}

bool write_file(const char* path, const std::string& text) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// A core count beyond the physical cores is bad input.
bool cores_available(const RtPlan* plan, uint32_t* physical) {
    uint32_t processors[MAX_RT_THREADS];
    RtStep step{};
    *physical = rt_physical_cores(processors, MAX_RT_THREADS, &step);
    for (uint32_t c = 0; c < plan->core_choice_count; ++c) {
        if (plan->core_choices[c] != ALL_CORES && plan->core_choices[c] > *physical) {
            return false;
        }
    }
    return true;
}
} // namespace

int run_realtime_command(const CliOptions* options) {
    const RtPlan* plan = &options->plan;
    uint32_t physical = 0;
    if (!cores_available(plan, &physical)) {
        std::fprintf(stderr,
                     "test_zem_cli: --cores asks for more than this machine's %u physical "
                     "cores (see 'test_zem_cli realtime --help')\n",
                     physical);
        return 2;
    }
    MachineReport machine{};
    describe_machine(&machine);
    const bool progress = console_stderr_is_terminal();
    RtHost host{console_wait_for_stop, progress ? show_progress : nullptr, nullptr};
    auto result = std::make_unique<RtRunResult>();
    realtime_run(plan, &host, result.get());
    if (progress) {
        std::fputs("\r\033[K", stderr);
    }
    if (options->json) {
        std::string text =
            realtime_json(&machine, plan, result.get())
                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        std::fprintf(stdout, "%s\n", text.c_str());
    } else {
        print_realtime_text(stdout, &machine, plan, result.get());
    }
    std::fflush(stdout);
    int status = result->failure != nullptr ? 1 : 0;
    if (!options->svg_path.empty() &&
        !write_file(options->svg_path.c_str(), realtime_svg(&machine, plan, result.get()))) {
        std::fprintf(stderr, "test_zem_cli: could not write %s\n", options->svg_path.c_str());
        status = 1;
    }
    return result->stop_signal != 0 ? 128 + result->stop_signal : status;
}
