// What the console runner prints: the panel's three tables as text, one
// JSON line per run, and the minimum, median and maximum over several runs.
#pragma once

#include "engine/measure_state.h"

#include <cstdint>
#include <cstdio>
#include <vector>

constexpr uint32_t CLI_TESTS = 3;

// One test of one run, as the runner saw it.
struct TestOutcome {
    bool completed; // ran its whole slot and stored its figures
    bool ran;       // its timed loop ran (blocks is meaningful)
    uint32_t blocks;
    int64_t elapsed_ms; // -1 when not known
    int64_t figures[3]; // 44100, 48000, and Mfloat/s for the mix test
};

struct RunOutcome {
    TestOutcome tests[CLI_TESTS]; // ZEM-1, ZEM-2, ZEM-M
};

// Copies a test's published figures and trace into an outcome.
TestOutcome filter_outcome(const FilterResult* result, const TestTrace* trace, bool whole_slot);
TestOutcome mix_outcome(const MixResult* result, const TestTrace* trace, bool whole_slot);

void print_run_tables(FILE* out, const RunOutcome* run);
void print_run_json(FILE* out, const RunOutcome* run);
// Minimum, median and maximum of each figure over the runs that stored it.
void print_summary(FILE* out, const std::vector<RunOutcome>& runs);
