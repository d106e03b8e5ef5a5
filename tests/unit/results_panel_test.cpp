// The results panel against the recording window system: rows only for the
// tests that have finished, figures with their units (0 and negative
// included) at their places, and a panel that still paints when its fonts
// could not be made. The pixels themselves are checked on a real display
// (tests/x11).
#include "engine/measure_state.h"
#include "tests/fakes/recording_platform.h"
#include "ui/results_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
using Calls = std::vector<std::string>;

bool has(const Calls& calls, const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

size_t count_prefix(const Calls& calls, const std::string& prefix) {
    return static_cast<size_t>(
        std::count_if(calls.begin(), calls.end(),
                      [&prefix](const std::string& c) { return c.starts_with(prefix); }));
}

class ResultsPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_recording();
        measure_state.int_result = FilterResult{0, 0, -5};
        measure_state.float_result = FilterResult{1, 8600, 7902};
        measure_state.mix_result = MixResult{1, 123, -1, 4095};
    }
    Calls paint() {
        create_panel_fonts();
        take_calls();
        paint_results(recorded_window());
        release_panel_fonts();
        return take_calls();
    }
};
} // namespace

TEST_F(ResultsPanel, ShowsRowsOnlyForFinishedTestsWithTheirFiguresAndUnits) {
    Calls calls = paint();
    EXPECT_EQ(calls.front(), "begin_paint");
    EXPECT_TRUE(has(calls, "end_paint"));
    for (const char* header :
         {"text 150 82 ZEM-1 measure", "text 150 162 ZEM-2 measure", "text 150 242 ZEM-M measure",
          "text 5 228 [float mix] 1 track + FMUL + FADD on output BUS"}) {
        EXPECT_TRUE(has(calls, header)) << header;
    }
    EXPECT_FALSE(has(calls, "text 10 102 mono 44100 Hz")) << "ZEM-1 has not finished";
    EXPECT_EQ(count_prefix(calls, "rectangle 5 100 141 121"), 1u) << "its cells are framed";
    EXPECT_TRUE(has(calls, "text 150 182 8600 cycles/smp."));
    EXPECT_TRUE(has(calls, "text 150 202 7902 cycles/smp."));
    EXPECT_TRUE(has(calls, "text 150 282 -1 tracks"));
    EXPECT_TRUE(has(calls, "text 10 302 Transfer Rate"));
    EXPECT_TRUE(has(calls, "text 150 302 4095 Mfloat/s"));
    EXPECT_EQ(count_prefix(calls, "text 10 "), 3u /* headers */ + 2u + 3u);

    measure_state.int_result.finished = 1;
    calls = paint();
    EXPECT_TRUE(has(calls, "text 150 102 0 cycles/smp."));
    EXPECT_TRUE(has(calls, "text 150 122 -5 cycles/smp."));
}

TEST_F(ResultsPanel, FontsAreReleasedOnceAndMissingFontsLeaveTheContextsFont) {
    create_panel_fonts();
    release_panel_fonts();
    release_panel_fonts();
    EXPECT_EQ(count_prefix(take_calls(), "delete font"), 2u);

    recording.fail_create_font = true;
    Calls calls = paint();
    EXPECT_EQ(count_prefix(calls, "select font"), 0u);
    EXPECT_EQ(count_prefix(calls, "delete font"), 0u);
    EXPECT_TRUE(has(calls, "text 150 182 8600 cycles/smp."));
}
