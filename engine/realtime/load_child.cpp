#include "engine/realtime/run_context.h"

namespace {
// What a child that ran one load's trials hands back: the buffer size's
// figures (its dropouts included) and what the run keeps across loads.
struct ChildResult {
    bool finished; // the child got to the end and wrote the rest
    RtConfigResult config;
    double best_kernel_ns;
    ThreadSteps thread_steps;
    bool thread_steps_known;
    int stop_signal;
    DriverFailure failure;
    uint32_t step;
};

struct ChildRun {
    RunContext* run;
    PeriodDriver* driver;
    uint32_t index;
    RtConfigResult* config;
    ChildResult* shared;
};

uint32_t run_test_in_child(void* parameter) {
    auto* child = static_cast<ChildRun*>(parameter);
    RunContext* run = child->run;
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
    shared->step = run->step;
    shared->finished = true;
    return 0;
}
} // namespace

// A chain of plugins on our own clock runs its trials in a child process:
// a plugin that crashes in the three-hundredth period of a trial ends that
// load alone, and the run goes on with the others. (Inside an audio server
// the server's thread is the parent's, so there the load runs in place.)
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
    ChildRun child{run, driver, index, config, shared};
    int stop_signal = 0;
    const int ended = run->system->run_in_child(run_test_in_child, &child, run->host->wait_for_stop,
                                                &stop_signal);
    if (ended == 0 && shared->finished) {
        *config = shared->config;
        run->best_kernel_ns[index] = shared->best_kernel_ns;
        if (!run->result->thread_steps_known && shared->thread_steps_known) {
            run->result->thread_steps = shared->thread_steps;
            run->result->thread_steps_known = true;
        }
        run->result->stop_signal = shared->stop_signal != 0 ? shared->stop_signal : stop_signal;
        driver->failure = shared->failure;
        run->step = shared->step;
    } else {
        RtTestResult* result = &config->tests[index];
        result->state = RT_FAILED;
        result->crash_signal = ended > 0 ? ended : -1; // -1: it ended by itself, early
        run->step += 1;
        run->result->stop_signal = stop_signal;
    }
    run->system->shared_free(shared, sizeof(ChildResult));
}
