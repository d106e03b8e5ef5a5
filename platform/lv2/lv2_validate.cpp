// Validation of a load in a child process: whatever the plugins do there, a
// crash, a hang or worse, the caller goes on and learns what happened.
//
// The child opens one instance, then runs `blocks` blocks with flush-to-zero
// and denormals-are-zero off, reading every plugin's outputs after its run.
// During each plugin's run it watches what the plugin asks of the kernel
// (lv2_call_watch.cpp). The filter sees the calls of the running thread
// only: work the plugin hands to threads of its own is not seen there, but
// the threads themselves are, both when run starts them and, counted in
// /proc/self/task after the blocks, wherever they were started. Small
// allocations that glibc serves without the kernel are counted by the
// program's own malloc (malloc_count.cpp), absent in sanitizer builds;
// memory taken by other means, such as a plugin's own allocator working in
// memory it took earlier, is not seen at all.
//
// The child is one of platform_run_in_child: each stage has its deadline, a
// stop ends it, and what it prints is kept, not shown.
#include "platform/lv2/lv2_internal.h"
#include "platform/platform_engine.h"
#ifndef ZEM_NO_MALLOC_COUNT
#include "platform/lv2/malloc_count.h"
#endif

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <new>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {
struct SharedFindings {
    uint64_t non_finite;
    uint64_t denormals;
    int64_t allocations;
};

// Written by the child, read by the parent once the child has ended.
struct Shared {
    std::atomic<uint32_t> stage;
    std::atomic<uint32_t> plugin;
    std::atomic<uint64_t> block;
    CallCounts calls;
    SharedFindings findings[PLUGIN_MAX_CHAIN];
    bool gets_notes[PLUGIN_MAX_CHAIN];
    int64_t extra_threads;
    int64_t stage_ms; // each stage's allowance but run's (run_ms)
    int64_t run_ms;
    char refusal[512];
    char not_checked[256];
    char wiring[1024];
    char input[256];
};

struct ValidateChild {
    PluginHost* host;
    const PluginLoadOrder* order;
    uint32_t blocks;
    Shared* shared;
};

void mark_shared(void* context, PluginStage stage, uint32_t plugin) {
    auto* shared = static_cast<Shared*>(context);
    shared->stage.store(stage);
    shared->plugin.store(plugin);
    platform_child_stage(PLUGIN_STAGE_NAMES[stage],
                         stage == PLUGIN_STAGE_RUN ? shared->run_ms : shared->stage_ms);
}

void note(Shared* shared, const char* text) {
    size_t used = std::strlen(shared->not_checked);
    std::snprintf(shared->not_checked + used, sizeof shared->not_checked - used, "%s%s",
                  used == 0 ? "" : "; ", text);
}

int64_t count_threads() {
    DIR* folder = opendir("/proc/self/task");
    if (folder == nullptr) {
        return -1;
    }
    int64_t count = 0;
    while (dirent* entry = readdir(folder)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(folder);
    return count;
}

// The child's signals take their default action, so that a crash ends the
// child with its signal even where a sanitizer has handlers of its own.
void default_crash_signals() {
    for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigaction(signal_number, &action, nullptr);
    }
}

// Nothing is handed back after a stop: the run's stop signals end the child
// at once, as they would end the program.
void stop_signals_end_child() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void keep_facts(const PluginLoadFacts* facts, Shared* shared) {
    std::snprintf(shared->wiring, sizeof shared->wiring, "%s", facts->wiring.c_str());
    std::snprintf(shared->input, sizeof shared->input, "%s", facts->input.c_str());
    for (size_t s = 0; s < facts->chain.size() && s < PLUGIN_MAX_CHAIN; ++s) {
        shared->gets_notes[s] = facts->chain[s].gets_notes;
    }
}

void show_denormals() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() & ~0x8040u); // flush-to-zero (bit 15), denormals-are-zero (bit 6)
#endif
}

void check_outputs(const PluginLoad* load, uint32_t link, SharedFindings* findings,
                   uint32_t frames) {
    for (uint32_t c = 0; c < load_link_outputs(load, link); ++c) {
        const float* output = load_link_output(load, 0, link, c);
        for (uint32_t i = 0; i < frames; ++i) {
            int kind = std::fpclassify(output[i]);
            findings->non_finite += kind == FP_NAN || kind == FP_INFINITE ? 1 : 0;
            findings->denormals += kind == FP_SUBNORMAL ? 1 : 0;
        }
    }
}

uint32_t validate_in_child(void* parameter) {
    const auto* child = static_cast<const ValidateChild*>(parameter);
    const PluginLoadOrder* order = child->order;
    const uint32_t blocks = child->blocks;
    Shared* shared = child->shared;
    default_crash_signals();
    stop_signals_end_child();
    // A thread started and ended first: a runtime that starts a helper
    // thread of its own with the first new thread (ThreadSanitizer does)
    // has done so before the count.
    std::thread([] {}).join();
    int64_t threads_before = count_threads();
    PluginLoadOrder one = *order;
    one.instances = 1;
    PluginLoadFacts facts;
    std::string error;
    LoadProgress progress{mark_shared, shared};
    PluginLoad* load = load_open(child->host, &one, &facts, &error, &progress);
    if (load == nullptr) {
        std::snprintf(shared->refusal, sizeof shared->refusal, "%s", error.c_str());
        return 0;
    }
    keep_facts(&facts, shared);
    auto links = static_cast<uint32_t>(facts.chain.size());
#ifdef ZEM_NO_MALLOC_COUNT
    bool counting_mallocs = false;
    note(shared, "malloc calls during run: not counted in sanitizer builds");
#else
    bool counting_mallocs = malloc_count_works();
    if (!counting_mallocs) {
        note(shared, "malloc calls during run: not counted (another allocator replaces ours)");
    }
#endif
    for (uint32_t s = 0; s < links && !counting_mallocs; ++s) {
        shared->findings[s].allocations = PLUGIN_NOT_CHECKED;
    }
    char why[160] = "";
    const bool watching = call_watch_start(&shared->calls, why, sizeof why) != nullptr;
    if (!watching) {
        note(shared, why);
    }
    show_denormals();
    mark_shared(shared, PLUGIN_STAGE_RUN, 0);
    for (uint32_t b = 0; b < blocks; ++b) {
        for (uint32_t s = 0; s < links; ++s) {
            shared->plugin.store(s);
            shared->calls.counting.store(static_cast<int32_t>(s));
#ifndef ZEM_NO_MALLOC_COUNT
            malloc_count_into(counting_mallocs ? &shared->findings[s].allocations : nullptr);
#endif
            plugin_load_run_link(load, 0, s);
#ifndef ZEM_NO_MALLOC_COUNT
            malloc_count_into(nullptr);
#endif
            shared->calls.counting.store(-1);
            check_outputs(load, s, &shared->findings[s], order->frames);
        }
        plugin_load_finish_period(load, 1);
        shared->block.store(b + 1);
    }
    int64_t threads_after = count_threads();
    if (threads_before > 0 && threads_after > 0) {
        shared->extra_threads = threads_after - threads_before - load_threads(load) -
                                (watching ? 1 : 0); // the listener's thread
    }
    if (!watching) {
        for (uint32_t s = 0; s < links; ++s) {
            for (int64_t& calls : shared->calls.calls[s]) {
                calls = PLUGIN_NOT_CHECKED;
            }
        }
    }
    mark_shared(shared, PLUGIN_STAGE_CLOSE, 0);
    plugin_load_close(load);
    mark_shared(shared, PLUGIN_STAGE_DONE, 0);
    return 0;
}

// Twice the audio time of the blocks: a plugin that runs slower than that
// cannot play one instance.
int64_t blocks_ms(uint32_t blocks, const PluginLoadOrder* order) {
    return order->rate > 0 ? 2 * static_cast<int64_t>(blocks) * order->frames * 1000 / order->rate
                           : 0;
}

void take_end(const ChildEnd* end, int stop_signal, PluginValidation* result) {
    result->timed_out = end->timed_out;
    result->allowed_ms = end->allowed_ms;
    result->stop_signal = stop_signal;
    if (!end->timed_out && end->signal != 0) {
        result->signal = end->signal;
        result->signal_name = end->signal_name;
    } else if (!end->timed_out) {
        result->exit_status = end->exit_status;
    }
    result->no_display = result->signal == SIGABRT && !host_has_display();
    result->output = end->output;
}
} // namespace

void plugin_validate(PluginHost* host, const PluginLoadOrder* order,
                     const PluginValidateOptions* options, PluginValidation* result) {
    *result = PluginValidation{};
    void* memory = platform_shared_alloc(sizeof(Shared));
    if (memory == nullptr) {
        result->refusal = "validation could not start: no shared memory";
        return;
    }
    auto* shared = new (memory) Shared{};
    shared->calls.counting.store(-1);
    shared->stage_ms = options->timeout_ms;
    shared->run_ms = options->timeout_ms + blocks_ms(options->blocks, order);
    ValidateChild child{host, order, options->blocks, shared};
    ChildEnd end;
    int stop_signal = 0;
    const ChildTask task{validate_in_child, &child, options->stop_wait, nullptr};
    platform_run_in_child(&task, &end, &stop_signal);
    if (!end.started) {
        result->refusal = "validation could not start its process";
        platform_shared_free(memory, sizeof(Shared));
        return;
    }
    take_end(&end, stop_signal, result);
    result->refusal = shared->refusal;
    result->stage = static_cast<PluginStage>(shared->stage.load());
    result->plugin = shared->plugin.load();
    result->block = shared->block.load();
    result->extra_threads = shared->extra_threads;
    result->not_checked = shared->not_checked;
    result->wiring = shared->wiring;
    result->input = shared->input;
    for (size_t s = 0; s < order->uris.size() && s < PLUGIN_MAX_CHAIN; ++s) {
        const SharedFindings& seen = shared->findings[s];
        const int64_t* calls = shared->calls.calls[s];
        const LilvPlugin* plugin = plugin_by_uri(host, order->uris[s]);
        result->plugins.push_back(PluginFindings{
            seen.non_finite, seen.denormals, seen.allocations, calls[CALL_MEMORY], calls[CALL_FILE],
            calls[CALL_THREAD],
            plugin != nullptr && lilv_plugin_has_feature(plugin, host->nodes.hard_rt),
            shared->gets_notes[s]});
    }
    platform_shared_free(memory, sizeof(Shared));
}
