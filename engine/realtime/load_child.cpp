#include "engine/realtime/child_words.h"
#include "engine/realtime/run_context.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint32_t RELAY_LINE = 260;

// The child's progress lines, shown by the parent: the child's own standard
// error goes to the log. One thread of the child writes; `sequence` is odd
// while it does.
struct ProgressRelay {
    std::atomic<uint32_t> sequence;
    char line[RELAY_LINE];
};

// What a child that ran one load's trials hands back: the buffer size's
// figures (its dropouts included) and what the run keeps across loads.
struct ChildResult {
    ProgressRelay relay;
    bool finished; // the child got to the end and wrote the rest
    RtConfigResult config;
    double best_kernel_ns;
    ThreadSteps thread_steps;
    bool thread_steps_known;
    int stop_signal;
    DriverFailure failure;
    uint32_t measurement; // the run's, for its progress line
};

struct ChildRun {
    RunContext* run;
    PeriodDriver* driver;
    uint32_t index;
    RtConfigResult* config;
    ChildResult* shared;
    uint32_t shown; // the parent's: the relay's last line shown
};

void relay_line(void* context, const char* text) {
    auto* relay = static_cast<ProgressRelay*>(context);
    relay->sequence.fetch_add(1);
    std::snprintf(relay->line, sizeof relay->line, "%s", text);
    relay->sequence.fetch_add(1);
}

// The parent's look at its child: a new progress line, whole, is shown.
void show_relayed(void* parameter) {
    auto* child = static_cast<ChildRun*>(parameter);
    const ProgressRelay* relay = &child->shared->relay;
    const uint32_t before = relay->sequence.load();
    if (before == child->shown || before % 2 != 0) {
        return;
    }
    char line[RELAY_LINE];
    std::memcpy(line, relay->line, sizeof line);
    line[RELAY_LINE - 1] = '\0';
    if (relay->sequence.load() != before) {
        return; // rewritten meanwhile: the next look shows it
    }
    child->shown = before;
    child->run->host->progress(child->run->host->progress_context, line);
}

uint32_t run_test_in_child(void* parameter) {
    auto* child = static_cast<ChildRun*>(parameter);
    RunContext* run = child->run;
    RtHost host = *run->host;
    if (host.progress != nullptr) {
        host.progress = relay_line;
        host.progress_context = &child->shared->relay;
    }
    run->host = &host; // the child's own copy of the run
    // Plugin code allocates as it likes: past the limit, its allocations
    // fail here, in the child, and not the machine's other processes.
    if (run->result->memory_limit_bytes > 0) {
        run->system->limit_memory(run->result->memory_limit_bytes);
    }
    RtStep lock{};
    run->system->lock_memory(&lock); // a forked child does not inherit the parent's lock
    run_test(run, child->driver, child->index, child->config);
    ChildResult* shared = child->shared;
    shared->config = *child->config;
    shared->best_kernel_ns = run->best_kernel_ns[child->index];
    shared->thread_steps = run->result->thread_steps;
    shared->thread_steps_known = run->result->thread_steps_known;
    shared->stop_signal = run->result->stop_signal;
    shared->failure = child->driver->failure;
    shared->measurement = run->measurement;
    shared->finished = true;
    return 0;
}

// What the child printed, after what its plugins logged, as far as the
// excerpt goes.
void keep_printed(const std::string& output, RtTestResult* result) {
    if (output.empty()) {
        return;
    }
    const size_t used = std::strlen(result->log);
    std::snprintf(result->log + used, sizeof result->log - used, "%sprinted: %s",
                  used > 0 ? "\n" : "", output.c_str());
}

void take_result(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config,
                 const ChildResult* shared, int stop_signal) {
    *config = shared->config;
    run->best_kernel_ns[index] = shared->best_kernel_ns;
    if (!run->result->thread_steps_known && shared->thread_steps_known) {
        run->result->thread_steps = shared->thread_steps;
        run->result->thread_steps_known = true;
    }
    run->result->stop_signal = shared->stop_signal != 0 ? shared->stop_signal : stop_signal;
    driver->failure = shared->failure;
    run->measurement = shared->measurement;
}
} // namespace

// A chain of plugins on our own clock runs its trials in a child process:
// a plugin that crashes in the three-hundredth period of a trial, or hangs
// in instantiate, ends that load alone, and the run goes on with the
// others. (Inside an audio server the server's thread is the parent's, so
// there the load runs in place.)
void run_load(RunContext* run, PeriodDriver* driver, uint32_t index, RtConfigResult* config) {
    if (run->plan->loads[index].kind != RT_PLUGINS || driver->kind != RT_CLOCK_OWN) {
        run_test(run, driver, index, config);
        return;
    }
    auto* shared = static_cast<ChildResult*>(run->system->shared_alloc(sizeof(ChildResult)));
    if (shared == nullptr) {
        config->tests[index].state = RT_NO_MEMORY;
        return;
    }
    ChildRun child{run, driver, index, config, shared, 0};
    int stop_signal = 0;
    ChildEnd end;
    const ChildTask task{run_test_in_child, &child, run->host->wait_for_stop,
                         run->host->progress != nullptr ? show_relayed : nullptr};
    run->system->run_in_child(&task, &end, &stop_signal);
    RtTestResult* result = &config->tests[index];
    if (end.started && end.signal == 0 && end.exit_status == 0 && shared->finished) {
        take_result(run, driver, index, config, shared, stop_signal);
    } else if (end.stopped) {
        result->state = RT_INTERRUPTED; // stopped with the run, in plugin code that took long
        run->measurement += 1;
        run->result->stop_signal = stop_signal;
    } else {
        result->state = RT_FAILED;
        result->crash_signal = end.signal != 0 ? end.signal : -1;
        std::snprintf(result->failure, sizeof result->failure, "%s",
                      child_end_words(&end, "the trials' process").c_str());
        run->measurement += 1;
    }
    keep_printed(end.output, result);
    run->system->shared_free(shared, sizeof(ChildResult));
}
