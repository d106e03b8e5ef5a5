// What the console runner prints: the panel's tables, JSON lines with null
// for figures a run did not store, and the summary over several runs.
#include "cli/report.h"

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

std::string printed(void (*print)(FILE*, const RunOutcome*), const RunOutcome* run) {
    return printed_by([print, run](FILE* out) { print(out, run); });
}

RunOutcome sample_run() {
    RunOutcome run{};
    run.tests[0] = {true, true, 1000, 20000, {58, 53, 0}};
    run.tests[1] = {true, true, 900, 20001, {52, 48, 0}};
    run.tests[2] = {true, true, 300, 40000, {5, 4, 2288}};
    return run;
}
} // namespace

TEST(CliReport, JsonLineHasEveryFieldInOrder) {
    RunOutcome run = sample_run();
    EXPECT_EQ(printed(print_run_json, &run),
              "{\"zem1\":{\"cycles_44100\":58,\"cycles_48000\":53,\"blocks\":1000,\"elapsed_ms\":"
              "20000},\"zem2\":{\"cycles_44100\":52,\"cycles_48000\":48,\"blocks\":900,"
              "\"elapsed_ms\":20001},\"zemm\":{\"tracks_44100\":5,\"tracks_48000\":4,"
              "\"mfloats_per_s\":2288,\"blocks\":300,\"elapsed_ms\":40000}}\n");
}

TEST(CliReport, FiguresNotStoredAreNull) {
    RunOutcome run = sample_run();
    run.tests[1] = {false, true, 5, -1, {0, 0, 0}};  // no elapsed time could be formed
    run.tests[2] = {false, false, 0, -1, {0, 0, 0}}; // never ran (stopped before it)
    std::string json = printed(print_run_json, &run);
    EXPECT_NE(json.find("\"zem2\":{\"cycles_44100\":null,\"cycles_48000\":null,\"blocks\":5,"
                        "\"elapsed_ms\":null}"),
              std::string::npos);
    EXPECT_NE(json.find("\"zemm\":{\"tracks_44100\":null,\"tracks_48000\":null,"
                        "\"mfloats_per_s\":null,\"blocks\":null,\"elapsed_ms\":null}"),
              std::string::npos);
}

TEST(CliReport, TablesUseThePanelWordsAndLeaveUnfinishedRowsEmpty) {
    RunOutcome run = sample_run();
    run.tests[2].completed = false;
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

TEST(CliReport, SummaryGivesMinimumMedianMaximumOfStoredFigures) {
    std::vector<RunOutcome> runs(4, sample_run());
    runs[1].tests[0].figures[0] = 61;
    runs[2].tests[0].figures[0] = 40;
    runs[3].tests[0].completed = false; // not counted
    runs[3].tests[0].figures[0] = 1;
    std::string text = printed_by([&runs](FILE* out) { print_summary(out, runs); });
    EXPECT_NE(text.find("Over 4 runs"), std::string::npos);
    EXPECT_NE(text.find("mono 44100 Hz   | 40 / 58 / 61 cycles/smp."), std::string::npos);
    EXPECT_NE(text.find("Transfer Rate   | 2288 / 2288 / 2288 Mfloat/s"), std::string::npos);
}
