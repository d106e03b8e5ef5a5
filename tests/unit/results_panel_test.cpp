// The results panel against the recording window system: the exact order of
// selections, rectangles and texts before any test has finished, with two
// of three finished, and with every figure shown, 0 and negative included.
#include "engine/measure_state.h"
#include "tests/fakes/recording_platform.h"
#include "ui/results_panel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using Calls = std::vector<std::string>;

// Everything but the row texts, which depend on what has finished.
const Calls PANEL_FRAME = {
    "begin_paint", "bk_mode 1", "text_color 000000", "select black_pen",
    // ZEM-1, base 68
    "text_color 000000", "select font 12/400 Arial",
    "text 5 68 [integer] 2 MOV + 2 MUL + ADD + 2 circular", "select black_brush",
    "text_color ffffff", "rectangle 5 80 290 101", "select font 16/600 Arial",
    "text 10 82 Stream Type", "text 150 82 ZEM-1 measure", "select null_brush",
    "rectangle 5 100 141 121", "rectangle 5 120 141 141", "rectangle 140 100 290 121",
    "rectangle 140 120 290 141", "text_color 000000",
    // ZEM-2, base 148
    "text_color 000000", "select font 12/400 Arial",
    "text 5 148 [float] 2 MOV + 2 FMUL + FADD + 2 circular", "select black_brush",
    "text_color ffffff", "rectangle 5 160 290 181", "select font 16/600 Arial",
    "text 10 162 Stream Type", "text 150 162 ZEM-2 measure", "select null_brush",
    "rectangle 5 180 141 201", "rectangle 5 200 141 221", "rectangle 140 180 290 201",
    "rectangle 140 200 290 221", "text_color 000000",
    // ZEM-M, base 228
    "text_color 000000", "select font 12/400 Arial",
    "text 5 228 [float mix] 1 track + FMUL + FADD on output BUS", "select black_brush",
    "text_color ffffff", "rectangle 5 240 290 261", "select font 16/600 Arial",
    "text 10 242 Stream Type", "text 150 242 ZEM-M measure", "select null_brush",
    "rectangle 5 260 141 281", "rectangle 5 280 141 301", "rectangle 5 300 141 321",
    "rectangle 140 260 290 281", "rectangle 140 280 290 301", "rectangle 140 300 290 321",
    "text_color 000000", "end_paint"};

const Calls ZEM1_ROWS = {"text 10 102 mono 44100 Hz", "text 150 102 0 cycles/smp.",
                         "text 10 122 mono 48000 Hz", "text 150 122 -5 cycles/smp."};
const Calls ZEM2_ROWS = {"text 10 182 mono 44100 Hz", "text 150 182 8600 cycles/smp.",
                         "text 10 202 mono 48000 Hz", "text 150 202 7902 cycles/smp."};
const Calls ZEMM_ROWS = {"text 10 262 mono 44100 Hz", "text 150 262 123 tracks",
                         "text 10 282 mono 48000 Hz", "text 150 282 -1 tracks",
                         "text 10 302 Transfer Rate", "text 150 302 4095 Mfloat/s"};

// The frame with each block's rows put in after its last cell line.
Calls panel_with_rows(const Calls& zem1, const Calls& zem2, const Calls& zemm) {
    const Calls* rows[] = {&zem1, &zem2, &zemm};
    Calls expected;
    size_t block = 0;
    for (size_t i = 0; i < PANEL_FRAME.size(); ++i) {
        expected.push_back(PANEL_FRAME[i]);
        bool block_ends =
            PANEL_FRAME[i] == "text_color 000000" && i + 1 < PANEL_FRAME.size() &&
            (PANEL_FRAME[i + 1] == "text_color 000000" || PANEL_FRAME[i + 1] == "end_paint");
        if (block_ends) {
            expected.insert(expected.end(), rows[block]->begin(), rows[block]->end());
            block += 1;
        }
    }
    return expected;
}

class ResultsPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_recording();
        measure_state.int_result = FilterResult{0, 0, -5};
        measure_state.float_result = FilterResult{0, 8600, 7902};
        measure_state.mix_result = MixResult{0, 123, -1, 4095};
        create_panel_fonts();
        take_calls();
    }
    void TearDown() override {
        release_panel_fonts();
    }
};
} // namespace

TEST_F(ResultsPanel, BeforeAnyTestHasFinishedShowsHeadersAndEmptyCells) {
    paint_results(recorded_window());
    EXPECT_EQ(take_calls(), PANEL_FRAME);
}

TEST_F(ResultsPanel, WithZem1AndZem2FinishedTheMixCellsStayEmpty) {
    measure_state.int_result.finished = 1;
    measure_state.float_result.finished = 1;
    paint_results(recorded_window());
    EXPECT_EQ(take_calls(), panel_with_rows(ZEM1_ROWS, ZEM2_ROWS, {}));
}

TEST_F(ResultsPanel, AllFinishedShowsEveryFigureWithZeroAndMinusSigns) {
    measure_state.int_result.finished = 1;
    measure_state.float_result.finished = 1;
    measure_state.mix_result.finished = 1;
    paint_results(recorded_window());
    EXPECT_EQ(take_calls(), panel_with_rows(ZEM1_ROWS, ZEM2_ROWS, ZEMM_ROWS));
}

TEST_F(ResultsPanel, FontsAreMadeAndReleasedOnceInOrder) {
    release_panel_fonts();
    release_panel_fonts();
    create_panel_fonts();
    EXPECT_EQ(take_calls(), (Calls{"delete font 16/600 Arial", "delete font 12/400 Arial",
                                   "create_font 16/600 Arial", "create_font 12/400 Arial"}));
}

TEST_F(ResultsPanel, FontsThatCouldNotBeMadeLeaveThePanelPaintingInTheContextsFont) {
    release_panel_fonts();
    recording.fail_create_font = true;
    create_panel_fonts();
    take_calls();
    measure_state.int_result.finished = 1;
    paint_results(recorded_window());
    Calls calls = take_calls();
    Calls expected = panel_with_rows(ZEM1_ROWS, {}, {});
    std::erase_if(expected,
                  [](const std::string& call) { return call.starts_with("select font"); });
    EXPECT_EQ(calls, expected);
    release_panel_fonts();
    EXPECT_EQ(take_calls(), Calls{});
}
