#include "engine/realtime/run_context.h"

#include "engine/realtime/plugin_cost.h"

#include <cmath>
#include <cstdio>

// The kernel-alone bound and, within the memory cap, the sets of every
// thread. False when even one stream per thread cannot be allocated.
bool prepare_test(RunContext* run, uint32_t index, const RtConfigResult* config,
                  RtTestResult* result, StreamSet sets[MAX_RT_THREADS]) {
    const uint32_t threads = config->threads;
    const RtLoad* load = &run->plan->loads[index];
    const RtTestKind test = load->kind;
    result->kernel_ns_per_sample = time_kernel(run, index, config->frames);
    if (result->kernel_ns_per_sample <= 0.0) {
        return false;
    }
    double per_thread = std::floor(1e9 / (run->plan->rate * result->kernel_ns_per_sample));
    result->kernel_bound = static_cast<uint32_t>(per_thread) * threads;
    // The ceiling lies well above the bound: one timing of the kernel in a
    // slow spell must not cap the search.
    uint64_t capacity = static_cast<uint64_t>(std::floor(per_thread * CEILING_OVER_BOUND));
    if (run->plan->fixed_streams > 0) {
        capacity = thread_share(run->plan->fixed_streams, threads, 0); // the largest share
    }
    uint64_t bytes = stream_bytes(test, config->frames) * threads;
    if (run->plan->fixed_streams > 0 && bytes > 0 && capacity * bytes > STREAM_MEMORY_CAP) {
        return false; // never fewer streams than asked for
    }
    if (bytes > 0 && capacity * bytes > STREAM_MEMORY_CAP) {
        capacity = STREAM_MEMORY_CAP / bytes;
        result->memory_capped = true;
    }
    if (test == RT_PLUGINS && capacity > MAX_PLUGIN_INSTANCES) {
        capacity = MAX_PLUGIN_INSTANCES;
        result->memory_capped = true;
    }
    for (;;) {
        if (test == RT_PLUGINS) {
            platform_child_stage("instantiate", stage_allowance_ms(STAGE_OPEN_MS, capacity));
        }
        bool complete = capacity > 0;
        for (uint32_t t = 0; t < threads && complete; ++t) {
            std::string error;
            complete = test == RT_PLUGINS
                           ? stream_set_prepare_plugins(&sets[t], run->host->plugins, &load->order,
                                                        config->frames, run->plan->rate,
                                                        static_cast<uint32_t>(capacity), &error)
                           : stream_set_prepare(&sets[t], test, config->frames,
                                                static_cast<uint32_t>(capacity), &run->mix);
        }
        if (complete) {
            result->search_bound = static_cast<uint32_t>(capacity) * threads;
            return true;
        }
        for (uint32_t t = 0; t < threads; ++t) {
            stream_set_free(&sets[t]);
        }
        if (capacity <= 1 || run->plan->fixed_streams > 0) {
            return false;
        }
        capacity /= 2;
        result->memory_capped = true;
    }
}

// A chain's workers and log, from each thread's load, before they close.
void keep_plugin_facts(const StreamSet sets[MAX_RT_THREADS], uint32_t threads,
                       RtTestResult* result) {
    std::string log;
    for (uint32_t t = 0; t < threads; ++t) {
        if (sets[t].plugins == nullptr) {
            continue;
        }
        const PluginWorkerStats worker = plugin_load_worker(sets[t].plugins);
        result->worker.jobs += worker.jobs;
        result->worker.total_ns += worker.total_ns;
        result->worker.longest_ns = worker.longest_ns > result->worker.longest_ns
                                        ? worker.longest_ns
                                        : result->worker.longest_ns;
        result->worker.refused += worker.refused;
        result->worker.responses += worker.responses;
        log += plugin_load_log(sets[t].plugins);
    }
    std::snprintf(result->log, sizeof result->log, "%s", log.c_str());
}
