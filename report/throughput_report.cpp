// The throughput run's report: the panel's tables, its JSON lines and the
// summary over several runs.
#include "report/throughput_report.h"

#include "report/median.h"
#include "report/report_reader.h"
#include "report/result_tables.h"

#include <algorithm>

namespace {
// Version 1 had neither the version nor the mode; its objects began with the
// machine.
constexpr int JSON_SCHEMA_VERSION = 2;

// The panel's tables for a run; a test whose figures were not stored shows
// its header and no rows, as the panel does before a test has finished.
void describe_run(const RunRecord* run, ResultBlock blocks[RESULT_BLOCKS]) {
    FilterResult int_result = run->int_result;
    FilterResult float_result = run->float_result;
    MixResult mix_result = run->mix_result;
    int_result.finished = figures_stored(run, 0) ? 1 : 0;
    float_result.finished = figures_stored(run, 1) ? 1 : 0;
    mix_result.finished = figures_stored(run, 2) ? 1 : 0;
    describe_results(&int_result, &float_result, &mix_result, blocks);
}

void print_block(FILE* out, const ResultBlock* block, const char* const right_texts[]) {
    std::fprintf(out, "%s\n", block->description);
    std::fprintf(out, "  %-16s| %s\n", STREAM_TYPE_TEXT, block->measure_name);
    for (uint32_t r = 0; r < block->row_count; ++r) {
        std::fprintf(out, "  %-16s| %s\n", block->rows[r].label, right_texts[r]);
    }
}
} // namespace

RunRecord take_run_record(const MeasureState* state, const bool whole_slot[SCHEDULED_TESTS]) {
    RunRecord run{state->int_result,
                  state->float_result,
                  state->mix_result,
                  {state->int_trace, state->float_trace, state->mix_trace},
                  {whole_slot[0], whole_slot[1], whole_slot[2]}};
    return run;
}

bool figures_stored(const RunRecord* run, uint32_t test) {
    return run->whole_slot[test] && run->traces[test].figures_stored == 1;
}

void print_run_tables(FILE* out, const RunRecord* run) {
    ResultBlock blocks[RESULT_BLOCKS];
    describe_run(run, blocks);
    for (uint32_t b = 0; b < RESULT_BLOCKS; ++b) {
        char texts[MAX_RESULT_ROWS][48] = {};
        const char* right[MAX_RESULT_ROWS] = {texts[0], texts[1], texts[2]};
        for (uint32_t r = 0; r < blocks[b].row_count && blocks[b].finished != 0; ++r) {
            format_row_value(&blocks[b].rows[r], texts[r], sizeof texts[r]);
        }
        print_block(out, &blocks[b], right);
        std::fputc('\n', out);
    }
}

nlohmann::ordered_json run_json(const RunRecord* run, const MachineReport* machine) {
    using Json = nlohmann::ordered_json;
    ResultBlock blocks[RESULT_BLOCKS];
    describe_results(&run->int_result, &run->float_result, &run->mix_result, blocks);
    Json object = Json::object();
    object["schema_version"] = JSON_SCHEMA_VERSION;
    object["mode"] = "throughput";
    if (machine != nullptr) {
        object["machine"] = machine_json(machine);
    }
    Json figures[SCHEDULED_TESTS] = {Json::object(), Json::object(), Json::object()};
    uint32_t rows[SCHEDULED_TESTS] = {};
    // The reader's keys, which follow each test's rows in the tables' order.
    for (const ThroughputName& name : THROUGHPUT_NAMES) {
        const ResultRow* row = &blocks[name.test].rows[rows[name.test]++];
        figures[name.test][name.figure] =
            figures_stored(run, name.test) ? Json(row->value) : Json(nullptr);
    }
    for (uint32_t t = 0; t < SCHEDULED_TESTS; ++t) {
        const LoopTrace* trace = &run->traces[t];
        bool ran = run->whole_slot[t];
        figures[t]["blocks"] = ran ? Json(trace->blocks) : Json(nullptr);
        figures[t]["elapsed_ms"] =
            ran && trace->elapsed_ms >= 0 ? Json(trace->elapsed_ms) : Json(nullptr);
        object[TEST_JSON_NAMES[t]] = figures[t];
    }
    return object;
}

void print_run_json(FILE* out, const RunRecord* run, const MachineReport* machine) {
    std::string line = run_json(run, machine)
                           .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::fprintf(out, "%s\n", line.c_str());
}

void print_summary(FILE* out, const std::vector<RunRecord>& runs) {
    ResultBlock blocks[RESULT_BLOCKS];
    RunRecord names{};
    describe_run(&names, blocks);
    std::fprintf(out, "Over %zu runs: minimum / median / maximum\n\n", runs.size());
    for (uint32_t b = 0; b < RESULT_BLOCKS; ++b) {
        char texts[MAX_RESULT_ROWS][96] = {};
        const char* right[MAX_RESULT_ROWS] = {texts[0], texts[1], texts[2]};
        for (uint32_t r = 0; r < blocks[b].row_count; ++r) {
            std::vector<int64_t> values;
            for (const RunRecord& run : runs) {
                if (figures_stored(&run, b)) {
                    ResultBlock run_blocks[RESULT_BLOCKS];
                    describe_results(&run.int_result, &run.float_result, &run.mix_result,
                                     run_blocks);
                    values.push_back(run_blocks[b].rows[r].value);
                }
            }
            if (values.empty()) {
                continue;
            }
            auto [low, high] = std::minmax_element(values.begin(), values.end());
            std::snprintf(texts[r], sizeof texts[r], "%lld / %lld / %lld%s",
                          static_cast<long long>(*low), static_cast<long long>(median_of(values)),
                          static_cast<long long>(*high), blocks[b].rows[r].unit);
        }
        print_block(out, &blocks[b], right);
        std::fputc('\n', out);
    }
}

void print_throughput_text(FILE* out, const std::vector<RunRecord>& runs, uint32_t planned) {
    for (size_t r = 0; r < runs.size(); ++r) {
        if (planned > 1) {
            std::fprintf(out, "Run %zu of %u\n\n", r + 1, planned);
        }
        print_run_tables(out, &runs[r]);
    }
    if (planned > 1 && !runs.empty()) {
        print_summary(out, runs);
    }
}
