// The throughput run's report: the panel's three tables as text, one JSON
// line per run, and the minimum, median and maximum over several runs.
// Everything is read from the engine's own records.
#pragma once

#include "engine/measure_state.h"
#include "engine/worker_control.h"
#include "report/machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <vector>

// One run as the engine left it: its three result records and the traces of
// their timed loops, and whether each test had its whole slot (a stop
// request cuts a slot short).
struct RunRecord {
    FilterResult int_result;
    FilterResult float_result;
    MixResult mix_result;
    LoopTrace traces[SCHEDULED_TESTS]; // ZEM-1, ZEM-2, ZEM-M
    bool whole_slot[SCHEDULED_TESTS];
};

// The engine's records after a run.
RunRecord take_run_record(const MeasureState* state, const bool whole_slot[SCHEDULED_TESTS]);
// A test's figures count when it had its whole slot and its loop stored them.
bool figures_stored(const RunRecord* run, uint32_t test);

void print_run_tables(FILE* out, const RunRecord* run);
// One run as a JSON object: the schema version and the mode, the machine
// (when given), then each test's figures; print_run_json writes it on one
// line.
nlohmann::ordered_json run_json(const RunRecord* run, const MachineReport* machine);
void print_run_json(FILE* out, const RunRecord* run, const MachineReport* machine);
// Minimum, median and maximum of each figure over the runs that stored it.
void print_summary(FILE* out, const std::vector<RunRecord>& runs);
// Each run's tables, headed "Run N of M" when `planned` is more than one,
// then the summary.
void print_throughput_text(FILE* out, const std::vector<RunRecord>& runs, uint32_t planned);
