// The arithmetic that turns a block count and two counter reads into figures.
#include "engine/measure_state.h"
#include "report/result_tables.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Figures, ElapsedTimeNeedsAFrequencyAndOneWholeMillisecond) {
    int64_t ms = 42;
    EXPECT_FALSE(elapsed_ms_between(0, 5000, 0, &ms));
    EXPECT_FALSE(elapsed_ms_between(100, 100 + 999999, 1000000000, &ms));
    EXPECT_EQ(ms, 42);
    EXPECT_TRUE(elapsed_ms_between(100, 100 + 1000000, 1000000000, &ms));
    EXPECT_EQ(ms, 1);
    EXPECT_TRUE(elapsed_ms_between(0, 3579545 * 20, 3579545, &ms)); // 20 s at a 3.58 MHz counter
    EXPECT_EQ(ms, 20000);
    EXPECT_TRUE(elapsed_ms_between(0, 3600LL * 1000000000, 1000000000, &ms));
    EXPECT_EQ(ms, 3600000);
}

TEST(Figures, PerSamplePeriodTruncatesTowardZero) {
    // 100000 blocks of 512 samples in 20 s: 2 560 000 samples/s.
    uint64_t work = 100000ULL * 512;
    EXPECT_EQ(units_per_sample_period(work, 20000, 44100), 58); // 58.04
    EXPECT_EQ(units_per_sample_period(work, 20000, 48000), 53); // 53.33
    EXPECT_EQ(units_per_sample_period(0, 1, 44100), 0);
    EXPECT_EQ(units_per_sample_period(512, 1, 44100), 11); // 11.6
}

TEST(Figures, TransferRateCountsTwoFloatsPerTrackSampleInBinaryMega) {
    // 2^20 track-samples in 2 s: 2^20 floats/s.
    EXPECT_EQ(mfloats_per_second(1ULL << 20, 2000), 1u);
    EXPECT_EQ(mfloats_per_second((1ULL << 20) - 1, 2000), 0u);
    // 2.4e9 floats/s, as this kind of machine moves: below 2^32.
    EXPECT_EQ(mfloats_per_second(1200000000ULL * 40, 40000), 2288u);
}

TEST(Figures, TransferRateAbove2To32FloatsPerSecondDoesNotWrap) {
    // 5e9 floats/s: a 32-bit narrowing would leave 705032704 >> 20 = 672.
    uint64_t work = 2500000000ULL * 40; // track-samples in 40 s
    EXPECT_EQ(mfloats_per_second(work, 40000), 4768u);
    // Exactly 2^32 floats/s is 4096, not 0.
    EXPECT_EQ(mfloats_per_second(1ULL << 31, 1000), 4096u);
    // The largest count a run can reach, in 1 ms, saturates rather than wraps.
    EXPECT_EQ(mfloats_per_second(0xFFFFFFFFULL * 32768, 1), 0xFFFFFFFFu);
}

TEST(ResultRows, TablesCarryThePanelWordsAndFigures) {
    FilterResult int_result{1, 123, 0};
    FilterResult float_result{0, 5, 6};
    MixResult mix_result{1, -4, 61, 2288};
    ResultBlock blocks[RESULT_BLOCKS];
    describe_results(&int_result, &float_result, &mix_result, blocks);
    EXPECT_STREQ(blocks[0].description, "[integer] 2 MOV + 2 MUL + ADD + 2 circular");
    EXPECT_STREQ(blocks[1].measure_name, "ZEM-2 measure");
    EXPECT_EQ(blocks[1].finished, 0);
    EXPECT_EQ(blocks[2].row_count, 3u);
    EXPECT_STREQ(blocks[2].rows[2].label, "Transfer Rate");
    char text[48];
    EXPECT_STREQ(format_row_value(&blocks[0].rows[0], text, sizeof text), "123 cycles/smp.");
    EXPECT_STREQ(format_row_value(&blocks[0].rows[1], text, sizeof text), "0 cycles/smp.");
    EXPECT_STREQ(format_row_value(&blocks[2].rows[0], text, sizeof text), "-4 tracks");
    EXPECT_STREQ(format_row_value(&blocks[2].rows[2], text, sizeof text), "2288 Mfloat/s");
}
