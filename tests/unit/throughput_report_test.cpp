// The throughput run's report: the panel's tables, JSON lines with null for
// figures a run did not store, and the summary over several runs.
#include "report/throughput_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {
// What `print` writes to a stream, as a string.
template <typename Print> std::string printed_by(Print print) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    print(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

std::string printed(void (*print)(FILE*, const RunRecord*), const RunRecord* run) {
    return printed_by([print, run](FILE* out) { print(out, run); });
}

std::string json_line(const RunRecord* run) {
    return printed_by([run](FILE* out) { print_run_json(out, run, nullptr); });
}

RunRecord sample_run() {
    return RunRecord{{1, 58, 53},
                     {1, 52, 48},
                     {1, 5, 4, 2288},
                     {{1000, 20000, 1}, {900, 20001, 1}, {300, 40000, 1}},
                     {true, true, true}};
}
} // namespace

TEST(ThroughputReport, JsonLineHasEveryFieldInOrder) {
    RunRecord run = sample_run();
    EXPECT_EQ(
        json_line(&run),
        "{\"schema_version\":2,\"mode\":\"throughput\",\"zem1\":{\"cycles_44100\":58,"
        "\"cycles_48000\":53,\"blocks\":1000,\"elapsed_ms\":20000},\"zem2\":{\"cycles_44100\":52,"
        "\"cycles_48000\":48,\"blocks\":900,\"elapsed_ms\":20001},\"zemm\":{\"tracks_44100\":5,"
        "\"tracks_48000\":4,\"mfloats_per_s\":2288,\"blocks\":300,\"elapsed_ms\":40000}}\n");
    MachineReport machine{};
    nlohmann::ordered_json object = run_json(&run, &machine);
    std::vector<std::string> keys;
    for (const auto& item : object.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"schema_version", "mode", "machine", "zem1", "zem2",
                                              "zemm"}));
}

TEST(ThroughputReport, FiguresNotStoredAreNull) {
    RunRecord run = sample_run();
    run.traces[1] = {5, -1, 0}; // no elapsed time could be formed
    run.traces[2] = {0, -1, 0}; // never ran (stopped before it)
    run.whole_slot[2] = false;
    std::string json = json_line(&run);
    EXPECT_NE(json.find("\"zem2\":{\"cycles_44100\":null,\"cycles_48000\":null,\"blocks\":5,"
                        "\"elapsed_ms\":null}"),
              std::string::npos);
    EXPECT_NE(json.find("\"zemm\":{\"tracks_44100\":null,\"tracks_48000\":null,"
                        "\"mfloats_per_s\":null,\"blocks\":null,\"elapsed_ms\":null}"),
              std::string::npos);
}

TEST(ThroughputReport, TablesUseThePanelWordsAndLeaveUnfinishedRowsEmpty) {
    RunRecord run = sample_run();
    run.whole_slot[2] = false;
    std::string text = printed(print_run_tables, &run);
    EXPECT_NE(text.find("[integer] 2 MOV + 2 MUL + ADD + 2 circular"), std::string::npos);
    EXPECT_NE(text.find("Stream Type"), std::string::npos);
    EXPECT_NE(text.find("ZEM-1 measure"), std::string::npos);
    EXPECT_NE(text.find("mono 44100 Hz   | 58 cycles/smp."), std::string::npos);
    EXPECT_NE(text.find("mono 48000 Hz   | 48 cycles/smp."), std::string::npos);
    EXPECT_NE(text.find("ZEM-M measure"), std::string::npos);
    EXPECT_EQ(text.find("tracks"), std::string::npos);
    EXPECT_NE(text.find("Transfer Rate   | \n"), std::string::npos);
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
