#include "cli/realtime_command.h"

#include "platform/platform_audio_server.h"
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
    if ((options->expect_frames != 0 && options->expect_frames != format.buffer_frames) ||
        (options->expect_rate != 0 && options->expect_rate != format.sample_rate)) {
        std::fprintf(stderr,
                     "test_zem_cli: the JACK server runs %u frames at %u Hz, not the --buffers "
                     "or --rate asked: change the server's (jack_bufsize, or PIPEWIRE_QUANTUM "
                     "under pw-jack) or leave them out\n",
                     format.buffer_frames, format.sample_rate);
        return 1;
    }
    if (!options->connect.empty() &&
        !audio_server_connect_output(*client, options->connect.c_str(), &error)) {
        std::fprintf(stderr, "test_zem_cli: %s\n", error.text);
        return 1;
    }
    plan->rate = format.sample_rate;
    plan->buffer_count = 1;
    plan->buffers[0] = format.buffer_frames;
    plan->core_choice_count = 1;
    plan->core_choices[0] = 1;
    plan->server = *client;
    plan->server_output = options->connect.empty() ? nullptr : options->connect.c_str();
    return 0;
}
} // namespace

int run_realtime_command(const CliOptions* options) {
    RtPlan plan = options->plan;
    uint32_t physical = 0;
    if (!cores_available(&plan, &physical)) {
        std::fprintf(stderr,
                     "test_zem_cli: --cores asks for more than this machine's %u physical "
                     "cores (see 'test_zem_cli realtime --help')\n",
                     physical);
        return 2;
    }
    AudioServerClient* client = nullptr;
    if (!options->server.empty()) {
        int refused = open_server(options, &plan, &client);
        if (refused != 0) {
            audio_server_close(client);
            return refused;
        }
    }
    MachineReport machine{};
    describe_machine(&machine);
    const bool progress = console_stderr_is_terminal();
    RtHost host{console_wait_for_stop, progress ? show_progress : nullptr, nullptr};
    auto result = std::make_unique<RtRunResult>();
    realtime_run(&plan, &host, result.get());
    if (progress) {
        std::fputs("\r\033[K", stderr);
    }
    if (options->json) {
        std::string text =
            realtime_json(&machine, &plan, result.get())
                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        std::fprintf(stdout, "%s\n", text.c_str());
    } else {
        print_realtime_text(stdout, &machine, &plan, result.get());
    }
    std::fflush(stdout);
    int status = 0;
    if (result->failure != nullptr) {
        std::fprintf(stderr, "test_zem_cli: %s\n", result->failure);
        status = 1;
    }
    if (!options->svg_path.empty() &&
        !write_file(options->svg_path.c_str(), realtime_svg(&machine, &plan, result.get()))) {
        std::fprintf(stderr, "test_zem_cli: could not write %s\n", options->svg_path.c_str());
        status = 1;
    }
    audio_server_close(client);
    return result->stop_signal != 0 ? 128 + result->stop_signal : status;
}
