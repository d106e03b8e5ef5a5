// The throughput run's report: the panel's tables, JSON lines read back as
// written, with null for figures a run did not store, and the summary over
// several runs.
#include "report/throughput_report.h"

#include "engine/test_names.h"
#include "report/report_reader.h"
#include "report/result_tables.h"
#include "tests/unit/printed_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {
RunRecord sample_run() {
    return RunRecord{{1, 58, 53},
                     {1, 52, 48},
                     {1, 5, 4, 2288},
                     {{1000, 20000, 1}, {900, 20001, 1}, {300, 40000, 1}},
                     {true, true, true}};
}
} // namespace

// The tables say what the panel says, under each kernel's words; the JSON
// line says the same and reads back to it for `compare`. A figure not
// stored is an empty row and null, never 0.
TEST(ThroughputReport, TablesAndJsonSayWhatThePanelSaysAndNothingOfFiguresNotStored) {
    RunRecord run = sample_run();
    run.traces[1] = {5, -1, 0}; // no elapsed time could be formed
    run.traces[2] = {0, -1, 0}; // never ran (stopped before it)
    run.whole_slot[2] = false;
    ResultBlock blocks[RESULT_BLOCKS];
    describe_results(&run.int_result, &run.float_result, &run.mix_result, blocks);
    const std::string text = printed_by([&run](FILE* out) { print_run_tables(out, &run); });
    size_t at = 0;
    for (uint32_t b = 0; b < RESULT_BLOCKS; ++b) {
        at = text.find(std::string(blocks[b].description) + "\n  " + STREAM_TYPE_TEXT, at);
        ASSERT_NE(at, std::string::npos) << blocks[b].description;
        EXPECT_EQ(text.find(blocks[b].measure_name, at), text.find('|', at) + 2);
        for (uint32_t r = 0; r < blocks[b].row_count; ++r) {
            char value[48] = "";
            format_row_value(&blocks[b].rows[r], value, sizeof value);
            at = text.find(std::string("  ") + blocks[b].rows[r].label, at + 1);
            const size_t bar = text.find("| ", at) + 2;
            EXPECT_EQ(text.substr(bar, text.find('\n', at) - bar), b == 0 ? value : "");
        }
    }
    MachineReport machine{};
    const std::string line =
        printed_by([&run, &machine](FILE* out) { print_run_json(out, &run, &machine); });
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(doc.begin().key(), "schema_version");
    ReportRecord record{};
    std::string problem;
    ASSERT_TRUE(read_report_text(line, "run.json", &record, &problem)) << problem;
    ASSERT_EQ(record.throughput.size(), THROUGHPUT_FIGURES);
    uint32_t rows[RESULT_BLOCKS] = {};
    for (const ThroughputFigure& figure : record.throughput) {
        // Written as its row of the tables says, and read back as written.
        const int64_t row = blocks[figure.test].rows[rows[figure.test]++].value;
        const bool stored = figure.test == 0;
        EXPECT_EQ(doc[TEST_JSON_NAMES[figure.test]][figure.figure],
                  stored ? nlohmann::ordered_json(row) : nullptr)
            << figure.figure;
        EXPECT_EQ(figure.known, stored);
        EXPECT_EQ(figure.value, stored ? row : 0) << figure.figure;
    }
    EXPECT_EQ(nlohmann::ordered_json({doc["zem2"]["blocks"], doc["zemm"]["blocks"]}),
              nlohmann::ordered_json({5, nullptr}));
}

TEST(ThroughputReport, SummaryGivesMinimumMedianMaximumOfStoredFigures) {
    std::vector<RunRecord> runs(4, sample_run());
    runs[1].int_result.cycles_44100 = 61;
    runs[2].int_result.cycles_44100 = 40;
    runs[3].whole_slot[0] = false; // not counted
    runs[3].int_result.cycles_44100 = 1;
    std::string text = printed_by([&runs](FILE* out) { print_summary(out, runs); });
    EXPECT_NE(text.find("Over 4 runs"), std::string::npos);
    EXPECT_NE(text.find("mono 44100 Hz   | 40 / 58 / 61 cycles/smp."), std::string::npos);
    EXPECT_NE(text.find("Transfer Rate   | 2288 / 2288 / 2288 Mfloat/s"), std::string::npos);
}
