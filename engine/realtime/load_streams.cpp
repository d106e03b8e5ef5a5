#include "engine/realtime/run_context.h"

#include "engine/realtime/plugin_cost.h"

#include <cmath>
#include <cstdio>

namespace {
// Every thread's set at `capacity` streams, whatever was open before; false
// (nothing left open) when one would not open.
bool open_sets(RunContext* run, uint32_t index, const RtConfigResult* config, uint32_t capacity,
               StreamSet sets[MAX_RT_THREADS]) {
    const RtLoad* load = &run->plan->loads[index];
    for (uint32_t t = 0; t < config->threads; ++t) {
        stream_set_free(&sets[t]);
    }
    if (load->kind == RT_PLUGINS) {
        platform_child_stage("instantiate", STAGE_OPEN_MS); // and again for each instance
    }
    bool complete = capacity > 0;
    for (uint32_t t = 0; t < config->threads && complete; ++t) {
        std::string error;
        complete =
            load->kind == RT_PLUGINS
                ? stream_set_prepare_plugins(&sets[t], run->host->plugins, &load->order,
                                             config->frames, run->plan->rate, capacity, &error)
                : stream_set_prepare(&sets[t], load->kind, config->frames, capacity, &run->mix);
    }
    if (complete && load->kind == RT_PLUGINS) {
        const int64_t allowance = stage_allowance_ms(STAGE_OPEN_MS, capacity);
        platform_child_stage("loading", (allowance + STAGE_OPEN_MS) * config->threads);
        for (uint32_t t = 0; t < config->threads; ++t) {
            stream_set_prime(&sets[t], static_cast<uint32_t>(allowance));
        }
    }
    if (!complete) {
        for (uint32_t t = 0; t < config->threads; ++t) {
            stream_set_free(&sets[t]);
        }
    }
    return complete;
}

// The memory held with the most instances prepared so far.
void note_memory(const RunContext* run, const StreamSet sets[MAX_RT_THREADS], uint32_t threads,
                 RtTestResult* result) {
    if (sets[0].test != RT_PLUGINS) {
        return;
    }
    result->memory_used_bytes = run->system->memory_used();
    result->memory_prepared = sets[0].capacity * threads;
}
} // namespace

// The kernel-alone bound and, within the memory cap, the sets of every
// thread. False when even one stream per thread cannot be allocated.
bool prepare_test(RunContext* run, uint32_t index, const RtConfigResult* config,
                  RtTestResult* result, StreamSet sets[MAX_RT_THREADS]) {
    const uint32_t threads = config->threads;
    const RtLoad* load = &run->plan->loads[index];
    const RtTestKind test = load->kind;
    PluginCost settle{};
    result->kernel_ns_per_sample = time_kernel(run, index, config->frames, &settle);
    result->offline_settle_blocks = settle.settle_blocks;
    result->offline_settled = settle.settled;
    result->offline_output = test == RT_PLUGINS ? settle.output : PLUGIN_OUTPUT_SOUND;
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
        result->instances_capped = true;
    }
    result->search_bound = static_cast<uint32_t>(capacity) * threads;
    // A chain's instances are opened in batches as the search asks for them
    // (grow_plugin_sets): the ceiling's worth of a plugin that loads a
    // sample kit would take all the machine's memory before the first trial.
    const bool in_batches = test == RT_PLUGINS && run->plan->fixed_streams == 0;
    if (in_batches && capacity > FIRST_PREPARED) {
        capacity = FIRST_PREPARED;
    }
    result->memory_base_bytes = run->system->memory_used();
    for (;;) {
        if (open_sets(run, index, config, static_cast<uint32_t>(capacity), sets)) {
            if (!in_batches) {
                result->search_bound = static_cast<uint32_t>(capacity) * threads;
            }
            note_memory(run, sets, threads, result);
            return true;
        }
        if (capacity <= 1 || run->plan->fixed_streams > 0) {
            return false;
        }
        capacity /= 2;
        result->memory_capped = true;
    }
}

uint32_t next_prepared(uint32_t prepared, uint32_t needed, uint32_t ceiling) {
    const uint64_t doubled = uint64_t{prepared} * 2;
    const uint64_t next = needed > doubled ? needed : doubled;
    return next < ceiling ? static_cast<uint32_t>(next) : ceiling;
}

bool grow_plugin_sets(RunContext* run, uint32_t index, const RtConfigResult* config,
                      RtTestResult* result, StreamSet sets[MAX_RT_THREADS], uint32_t needed,
                      uint32_t* prepared) {
    const uint32_t threads = config->threads;
    const uint32_t before = sets[0].capacity;
    *prepared = before * threads;
    if (sets[0].test != RT_PLUGINS || needed <= before) {
        return true;
    }
    uint32_t wanted = next_prepared(before, needed, result->search_bound / threads);
    // Each instance so far took about the same; a batch past the margin of
    // the limit is cut to what fits, and refused when that is too few.
    const uint64_t limit = run->result->memory_limit_bytes;
    const uint64_t used = result->memory_used_bytes;
    if (limit > 0 && used > result->memory_base_bytes && before > 0) {
        const double each =
            static_cast<double>(used - result->memory_base_bytes) / (before * threads);
        const double room = static_cast<double>(limit) * MEMORY_MARGIN -
                            static_cast<double>(result->memory_base_bytes);
        const double fits = room > 0.0 ? room / each / threads : 0.0;
        if (fits < static_cast<double>(wanted)) {
            wanted = static_cast<uint32_t>(fits);
        }
    }
    const uint32_t tried = wanted > before ? wanted : before;
    if (tried > before && open_sets(run, index, config, tried, sets)) {
        note_memory(run, sets, threads, result);
        *prepared = tried * threads;
        return tried >= needed;
    }
    // Too few fit, or the plugins would not open that many: those there were.
    if (tried > before && !open_sets(run, index, config, before, sets)) {
        *prepared = 0;
        return false;
    }
    note_memory(run, sets, threads, result);
    return false;
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
