#include "cli/report.h"

#include "engine/result_rows.h"

#include <algorithm>

namespace {
const char* const JSON_NAMES[CLI_TESTS] = {"zem1", "zem2", "zemm"};
const char* const FIGURE_NAMES[CLI_TESTS][3] = {{"cycles_44100", "cycles_48000", nullptr},
                                                {"cycles_44100", "cycles_48000", nullptr},
                                                {"tracks_44100", "tracks_48000", "mfloats_per_s"}};

// The panel's tables for the given figures; a test not completed shows its
// header and no rows, as the panel does.
void describe_outcome(const RunOutcome* run, ResultBlock blocks[RESULT_BLOCKS]) {
    const TestOutcome* t = run->tests;
    FilterResult int_result{t[0].completed ? 1 : 0, static_cast<int32_t>(t[0].figures[0]),
                            static_cast<int32_t>(t[0].figures[1])};
    FilterResult float_result{t[1].completed ? 1 : 0, static_cast<int32_t>(t[1].figures[0]),
                              static_cast<int32_t>(t[1].figures[1])};
    MixResult mix_result{t[2].completed ? 1 : 0, static_cast<int32_t>(t[2].figures[0]),
                         static_cast<int32_t>(t[2].figures[1]),
                         static_cast<uint32_t>(t[2].figures[2])};
    describe_results(&int_result, &float_result, &mix_result, blocks);
}

void print_block(FILE* out, const ResultBlock* block, const char* const right_texts[]) {
    std::fprintf(out, "%s\n", block->description);
    std::fprintf(out, "  %-16s| %s\n", STREAM_TYPE_TEXT, block->measure_name);
    for (uint32_t r = 0; r < block->row_count; ++r) {
        std::fprintf(out, "  %-16s| %s\n", block->rows[r].label, right_texts[r]);
    }
}

void print_number_or_null(FILE* out, bool present, int64_t value) {
    if (present) {
        std::fprintf(out, "%lld", static_cast<long long>(value));
    } else {
        std::fputs("null", out);
    }
}

int64_t median_of(std::vector<int64_t> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    if (values.size() % 2 == 1) {
        return values[middle];
    }
    return (values[middle - 1] + values[middle]) / 2;
}
} // namespace

TestOutcome filter_outcome(const FilterResult* result, const TestTrace* trace, bool whole_slot) {
    bool stored = whole_slot && trace->figures_stored == 1;
    return TestOutcome{stored,
                       whole_slot,
                       trace->blocks,
                       trace->elapsed_ms,
                       {result->cycles_44100, result->cycles_48000, 0}};
}

TestOutcome mix_outcome(const MixResult* result, const TestTrace* trace, bool whole_slot) {
    bool stored = whole_slot && trace->figures_stored == 1;
    return TestOutcome{stored,
                       whole_slot,
                       trace->blocks,
                       trace->elapsed_ms,
                       {result->tracks_44100, result->tracks_48000, result->mfloats_per_s}};
}

void print_run_tables(FILE* out, const RunOutcome* run) {
    ResultBlock blocks[RESULT_BLOCKS];
    describe_outcome(run, blocks);
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

void print_run_json(FILE* out, const RunOutcome* run) {
    std::fputc('{', out);
    for (uint32_t t = 0; t < CLI_TESTS; ++t) {
        const TestOutcome* test = &run->tests[t];
        std::fprintf(out, "%s\"%s\":{", t == 0 ? "" : ",", JSON_NAMES[t]);
        for (uint32_t f = 0; f < 3 && FIGURE_NAMES[t][f] != nullptr; ++f) {
            std::fprintf(out, "\"%s\":", FIGURE_NAMES[t][f]);
            print_number_or_null(out, test->completed, test->figures[f]);
            std::fputc(',', out);
        }
        std::fputs("\"blocks\":", out);
        print_number_or_null(out, test->ran, test->blocks);
        std::fputs(",\"elapsed_ms\":", out);
        print_number_or_null(out, test->ran && test->elapsed_ms >= 0, test->elapsed_ms);
        std::fputc('}', out);
    }
    std::fputs("}\n", out);
    std::fflush(out);
}

void print_summary(FILE* out, const std::vector<RunOutcome>& runs) {
    ResultBlock blocks[RESULT_BLOCKS];
    RunOutcome names{};
    describe_outcome(&names, blocks);
    std::fprintf(out, "Over %zu runs: minimum / median / maximum\n\n", runs.size());
    for (uint32_t b = 0; b < RESULT_BLOCKS; ++b) {
        char texts[MAX_RESULT_ROWS][96] = {};
        const char* right[MAX_RESULT_ROWS] = {texts[0], texts[1], texts[2]};
        for (uint32_t r = 0; r < blocks[b].row_count; ++r) {
            std::vector<int64_t> values;
            for (const RunOutcome& run : runs) {
                if (run.tests[b].completed) {
                    values.push_back(run.tests[b].figures[r]);
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
