// The observer: a thread that samples, at a short fixed interval, what may
// keep the measuring threads off their cores (each one's run-queue delay,
// its core's steal, interrupt and softirq time) into memory prepared before
// the trial, each sample stamped with the time it was taken. The measuring
// threads themselves only work and record; after the trial each missed
// period is matched with the samples around it.
//
// It runs on a core that no measuring thread uses when there is one, else
// at normal priority in the gaps the real-time threads leave. Its own
// lateness is kept: a sample taken long after it was due spans more than
// the period, and such a span is never read as a cause.
#pragma once

#include "engine/realtime/period_loop.h"
#include "engine/realtime/realtime_plan.h"
#include "platform/platform_realtime.h"

#include <atomic>
#include <cstdint>

// Short beside the periods it brackets (1.3 ms at 64 samples and up), long
// enough that reading /proc/stat and the threads' schedstat (some 30 us
// here) takes under 2 % of a core.
constexpr int64_t OBSERVER_INTERVAL_NS = 2000000;
// A sample this far from the edge it stands for spans too much of what
// was not the period to be read as its cause.
constexpr int64_t OBSERVER_REACH_NS = 2 * OBSERVER_INTERVAL_NS;

// Reads the counters of one measuring thread (tests pass a fake).
using StallReader = void (*)(void* context, uint32_t processor, int64_t thread_id,
                             RtStallCounters* counters);

struct Observer {
    uint32_t targets;                    // measuring threads watched
    uint32_t processors[MAX_RT_THREADS]; // each one's core (RT_PROCESSOR_ANY: not pinned)
    std::atomic<int64_t> thread_ids[MAX_RT_THREADS]; // each one's id, -1 until it tells
    uint32_t own_processor;                          // NO_PROCESSOR: not pinned, normal priority
    StallReader read;
    void* read_context;
    uint64_t capacity;         // samples the memory holds
    int64_t* at_ns;            // each sample's time
    int64_t* late_ns;          // how long after it was due it was taken
    uint32_t stride;           // threads each sample holds room for
    RtStallCounters* counters; // capacity × stride
    uint64_t count;
    std::atomic<bool> stop;
};

// Prepares the memory for `seconds` of samples of up to `threads`
// measuring threads; false when it is short.
bool observer_open(Observer* observer, double seconds, uint32_t threads);
void observer_close(Observer* observer);
// Before a trial: who to watch; empties the samples.
void observer_reset(Observer* observer, uint32_t targets, const uint32_t* processors);
// The observer thread's body: samples until `stop` is set or the memory is full.
uint32_t observer_thread(void* observer);

// Fills the record's stall counters and edges from the samples around its
// period for measuring thread `target`; leaves them unknown when no sample
// lies within reach of an edge.
void observer_match(const Observer* observer, uint32_t target, int64_t done_ns, MissRecord* record);
// The real reader: the platform's counters.
void observer_real_read(void* context, uint32_t processor, int64_t thread_id,
                        RtStallCounters* counters);
