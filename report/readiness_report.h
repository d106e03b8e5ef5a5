// The readiness items as text and JSON, and the one sentence on a buffer
// size that says how many streams fit and what caused its dropouts, naming
// the readiness item that explains them.
#pragma once

#include "engine/realtime/miss_cause.h"
#include "readiness/readiness.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct VerdictTest {
    std::string name;                   // "ZEM-1"
    bool plays;                         // false: no count of it played
    uint32_t streams;                   // the count that played
    std::string refused = "none plays"; // what to say when none played
};

struct BufferVerdictInput {
    uint32_t frames;
    bool idle_sustainable; // the system alone held every period
    std::vector<VerdictTest> tests;
    double dropouts_per_minute; // the system's own misses (every cause but work)
    MissCounts misses;
    double minutes;       // measured at this buffer size
    uint32_t threads = 0; // named after the size when not 0
};

// e.g. "128 samples: ZEM-1 5,100 plays, ZEM-2 4,000 plays; the idle system:
// dropouts about 1 a minute, mostly from the hypervisor (this is a virtual
// machine: expect better on real hardware)". The dropouts are the idle
// run's, where no load can cause one.
std::string buffer_verdict(const BufferVerdictInput* input, const ReadinessReport* readiness);

const char* readiness_state_name(ReadinessState state); // "ok", "warn", "unknown"
void print_readiness_text(FILE* out, const ReadinessReport* report);
// The items only; the caller places root_note.
nlohmann::ordered_json readiness_json(const ReadinessReport* report);

std::string thousands(uint64_t value); // 5100 -> "5,100"
