// What limits this system for real-time audio, item by item: for each, its
// state, the value found and one sentence on what to change and how. Made
// from the platform's raw facts (platform/platform_readiness.h), and, in a
// real-time run's report, from what the run itself was granted and saw. The
// check and the real-time command read the facts the same way
// (readiness_read_facts), the latter before its set-up, and judge them.
#pragma once

#include "platform/platform_readiness.h"

#include <cstdint>
#include <string>
#include <vector>

// Long enough to see a sibling's load and the steal, short enough to wait for.
constexpr uint32_t READINESS_INTERVAL_MS = 250;

enum ReadinessState { READY_OK, READY_WARN, READY_UNKNOWN };

struct ReadinessItem {
    std::string name;     // short and stable: rtprio_limit, governor, power_plan...
    ReadinessState state; // READY_UNKNOWN when the facts could not tell
    std::string value;    // what was found; when unknown, why
    std::string advice;   // one sentence: what to change and how, or why it is fine
    std::string effect;   // a measured effect, "" when none was taken
};

struct ReadinessReport {
    std::vector<ReadinessItem> items;
    std::string root_note; // what running as root would add; "" as root and on Windows
};

// What a real-time run was granted and saw. The check fills only the
// processors a run would use. -1: not taken.
struct ReadinessRun {
    std::vector<uint32_t> processors;
    int32_t sched_fifo = -1; // 1 granted (Windows: MMCSS "Pro Audio"), 0 refused
    int32_t mlockall = -1;
    int32_t idle_hold = -1; // /dev/cpu_dma_latency held at 0
    int64_t steal_ns = -1;  // steal on those processors during the run, summed over them
    int64_t elapsed_ns = 0; // the run's length
};

// This process's and this system's facts, /proc/stat read twice
// READINESS_INTERVAL_MS apart.
void readiness_read_facts(ReadinessFacts* facts);

void readiness_assess(const ReadinessFacts* facts, const ReadinessRun* run,
                      ReadinessReport* report);

// The item of that name, or nullptr.
const ReadinessItem* readiness_find(const ReadinessReport* report, const char* name);
