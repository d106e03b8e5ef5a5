// Why a period was missed. Every missed period gets exactly one cause; a
// preemption also names its source where the counters tell.
#pragma once

#include <cstdint>

enum MissCause : uint32_t {
    CAUSE_WORK = 0,        // the streams' own processing did not fit in what the period left
    CAUSE_LATE_WAKEUP = 1, // the thread woke so late that no work could have fitted
    CAUSE_PREEMPTED = 2,   // the thread was not running for part of its processing
    CAUSE_THROTTLED = 3,   // real-time throttling or the fair server's reservation
    CAUSE_UNKNOWN = 4,
};
constexpr uint32_t MISS_CAUSES = 5;
// "work", "late_wakeup", "preempted", "throttled", "unknown"
extern const char* const MISS_CAUSE_NAMES[MISS_CAUSES];

enum PreemptSource : uint32_t {
    SOURCE_THREAD = 0,     // another thread ran on our core
    SOURCE_INTERRUPTS = 1, // interrupts or softirqs on our core
    SOURCE_HYPERVISOR = 2, // the hypervisor's steal, or a pause counted as our own time
    SOURCE_UNSAID = 3,     // the counters do not tell
};
constexpr uint32_t PREEMPT_SOURCES = 4;
// "thread", "interrupts", "hypervisor", "unsaid"
extern const char* const PREEMPT_SOURCE_NAMES[PREEMPT_SOURCES];

struct MissCounts {
    uint64_t by_cause[MISS_CAUSES];
    uint64_t preempted_by[PREEMPT_SOURCES]; // splits by_cause[CAUSE_PREEMPTED]
    uint64_t confirmed; // misses whose cause the counters back, not only the timing
};

inline uint64_t miss_total(const MissCounts* counts) {
    uint64_t total = 0;
    for (uint64_t count : counts->by_cause) {
        total += count;
    }
    return total;
}

// Misses that count against a count of streams: its work's, and those no
// counter could place (they are never passed off as the system's).
inline uint64_t miss_against_streams(const MissCounts* counts) {
    return counts->by_cause[CAUSE_WORK] + counts->by_cause[CAUSE_UNKNOWN];
}

// Misses that are the system's own stalls.
inline uint64_t miss_system_total(const MissCounts* counts) {
    return miss_total(counts) - miss_against_streams(counts);
}

inline void miss_counts_add(MissCounts* into, const MissCounts* from) {
    for (uint32_t c = 0; c < MISS_CAUSES; ++c) {
        into->by_cause[c] += from->by_cause[c];
    }
    for (uint32_t s = 0; s < PREEMPT_SOURCES; ++s) {
        into->preempted_by[s] += from->preempted_by[s];
    }
    into->confirmed += from->confirmed;
}
