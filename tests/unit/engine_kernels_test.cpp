// The test signals and the filter and mix kernels, without threads.
#include "engine/measure_state.h"
#include "engine/workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
template <typename Sample> struct Rings {
    std::vector<Sample> input = std::vector<Sample>(TABLE_SAMPLES);
    std::vector<Sample> output = std::vector<Sample>(TABLE_SAMPLES, Sample{-7});
    CircularFilter<Sample> filter{};
    explicit Rings(Sample coefficient) {
        setup_filter(&filter, input.data(), output.data(), coefficient, coefficient);
    }
};

struct IntRings : Rings<int32_t> {
    IntRings() : Rings<int32_t>(16383) {
        fill_int_signal(input.data());
    }
    void run(uint32_t count) {
        filter_int(&filter, count);
    }
};

struct FloatRings : Rings<float> {
    FloatRings() : Rings<float>(0.5f) {
        fill_float_signal(input.data());
    }
    void run(uint32_t count) {
        filter_float(&filter, count);
    }
};

template <typename FilterRings> class BothFilters : public ::testing::Test {};
using FilterKinds = ::testing::Types<IntRings, FloatRings>;
TYPED_TEST_SUITE(BothFilters, FilterKinds);
} // namespace

// Both kernels carry their state and ring positions from call to call and
// wrap both rings: 200 blocks in halves equal 200 whole blocks, and end 2400
// samples into the third pass over the 50000-sample rings.
TYPED_TEST(BothFilters, CarryStateAndPositionsAcrossCallsAndWraps) {
    TypeParam whole;
    TypeParam halves;
    for (int block = 0; block < 200; ++block) {
        whole.run(BLOCK_SAMPLES);
        halves.run(256);
        halves.run(256);
    }
    EXPECT_EQ(whole.filter.state, halves.filter.state);
    EXPECT_EQ(whole.output, halves.output);
    EXPECT_EQ(whole.filter.in_pos, whole.input.data() + 2400);
    EXPECT_EQ(halves.filter.out_pos - halves.output.data(),
              whole.filter.out_pos - whole.output.data());
}

TEST(Signals, TablesStartAtZeroAndReachBothEnds) {
    IntRings ints;
    EXPECT_EQ(ints.input[1], 3);
    EXPECT_EQ(*std::minmax_element(ints.input.begin(), ints.input.end()).first, -16383);
    EXPECT_EQ(*std::minmax_element(ints.input.begin(), ints.input.end()).second, 16383);
    EXPECT_EQ(q15_from_factor(FEEDBACK_FACTOR), 16383);
    EXPECT_EQ(q15_from_factor(GAIN_FACTOR), 16383);
    FloatRings floats;
    EXPECT_EQ(ints.input[0], 0);
    EXPECT_EQ(floats.input[0], 0.0f);
    EXPECT_EQ(*std::minmax_element(floats.input.begin(), floats.input.end()).first, -0.5f);
    EXPECT_EQ(*std::minmax_element(floats.input.begin(), floats.input.end()).second, 0.5f);
}

namespace {
// The 64 tracks, filled as the mix test fills them.
struct Tracks {
    std::vector<std::vector<float>> samples =
        std::vector<std::vector<float>>(MIX_TRACKS, std::vector<float>(TRACK_SAMPLES, 1.0f));
    float* pointers[MIX_TRACKS] = {};
    Tracks() {
        for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
            pointers[t] = samples[t].data();
        }
        fill_tracks(pointers);
    }
};
} // namespace

TEST(Signals, TrackZeroIsSilentAndOthersAreSines) {
    Tracks tracks;
    const std::vector<float>& silent = tracks.samples[0];
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](float v) { return v == 0.0f; }));
    const std::vector<float>& last = tracks.samples[63];
    EXPECT_EQ(last[0], 0.0f);
    EXPECT_EQ(last[1000],
              static_cast<float>(std::sin(63000.0 * static_cast<double>(0.0001f)) * 0.5));
    EXPECT_EQ(tracks.samples[5][TRACK_SAMPLES - 1],
              static_cast<float>(std::sin(511995.0 * static_cast<double>(0.0001f)) * 0.5));
    EXPECT_LE(*std::max_element(last.begin(), last.end()), 0.5f);
    EXPECT_EQ(TRACK_GAIN, 0.1f);
}

// The integer kernel writes slots 1 to 512 of its first call (its output
// position is the slot written last), the float kernel slots 0 to 511.
TEST(IntegerFilter, FollowsTheQ15RecurrenceIntoSlotsOneTo512) {
    IntRings rings;
    filter_int(&rings.filter, BLOCK_SAMPLES);
    EXPECT_EQ(rings.output[0], -7);
    EXPECT_EQ(rings.output[513], -7);
    EXPECT_EQ(rings.filter.out_pos, rings.output.data() + 512);
    int32_t state = 0;
    for (uint32_t i = 0; i < BLOCK_SAMPLES; ++i) {
        state = rings.input[i] + ((state * 16383) >> 15);
        ASSERT_EQ(rings.output[i + 1], (state * 16383) >> 15) << "sample " << i;
    }
    EXPECT_EQ(rings.filter.state, state);
}

TEST(IntegerFilter, NegativeProductsShiftTowardMinusInfinity) {
    std::vector<int32_t> input(TABLE_SAMPLES, 0);
    std::vector<int32_t> output(TABLE_SAMPLES, 0);
    IntFilter filter{};
    setup_filter(&filter, input.data(), output.data(), 16383, 16383);
    input[0] = -1;
    filter_int(&filter, 1);
    EXPECT_EQ(filter.state, -1);
    EXPECT_EQ(output[1], -1); // (-1 * 16383) >> 15, not 0
    filter_int(&filter, 1);
    EXPECT_EQ(filter.state, -1); // 0 + (-1 * 16383 >> 15)
}

TEST(IntegerFilter, RingsWrapAndSlotZeroIsWrittenByThe50000thSample) {
    IntRings rings;
    for (uint32_t i = 0; i < TABLE_SAMPLES / 500; ++i) {
        filter_int(&rings.filter, 499);
        filter_int(&rings.filter, 1);
        if (i + 1 < TABLE_SAMPLES / 500) {
            ASSERT_EQ(rings.output[0], -7);
        }
    }
    EXPECT_EQ(rings.filter.in_pos, rings.filter.in_start);
    EXPECT_EQ(rings.filter.out_pos, rings.output.data());
    EXPECT_NE(rings.output[0], -7);

    // A block straddling the end continues at the start of both rings.
    rings.filter.in_pos = rings.input.data() + TABLE_SAMPLES - 100;
    rings.filter.out_pos = rings.output.data() + TABLE_SAMPLES - 100;
    filter_int(&rings.filter, BLOCK_SAMPLES);
    EXPECT_EQ(rings.filter.in_pos, rings.input.data() + 412);
    EXPECT_EQ(rings.filter.out_pos, rings.output.data() + 412);
}

TEST(FloatFilter, FirstValueLandsInSlotZeroAndFollowsTheRecurrence) {
    FloatRings rings;
    filter_float(&rings.filter, BLOCK_SAMPLES);
    float state = 0.0f;
    for (uint32_t i = 0; i < BLOCK_SAMPLES; ++i) {
        float echo = state * 0.5f;
        state = rings.input[i] + echo;
        ASSERT_EQ(rings.output[i], state * 0.5f) << "sample " << i;
    }
    EXPECT_EQ(rings.output[512], -7.0f);
    EXPECT_EQ(rings.filter.state, state);
}

TEST(MixKernels, ClearBlockClearsEveryByteIncludingARemainder) {
    std::vector<unsigned char> bytes(2048 + 16, 0xAB);
    clear_block(bytes.data(), 2048);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 2048, [](auto b) { return b == 0; }));
    EXPECT_EQ(bytes[2048], 0xAB);
    clear_block(bytes.data() + 2048, 13);
    EXPECT_EQ(bytes[2048 + 12], 0);
    EXPECT_EQ(bytes[2048 + 13], 0xAB);
}

TEST(MixKernels, MixAddScalesTheTrackIntoTheBus) {
    std::vector<float> bus(BLOCK_SAMPLES, 1.0f);
    std::vector<float> track(BLOCK_SAMPLES + 1, 3.0f);
    MixTrackBlock block{bus.data(), track.data(), 0.1f};
    mix_add(&block, BLOCK_SAMPLES);
    EXPECT_TRUE(
        std::all_of(bus.begin(), bus.end(), [](float v) { return v == 1.0f + 3.0f * 0.1f; }));
}

TEST(MixKernels, WalkReturnsToBlockZeroAfter200BlocksAndRemixesIt) {
    MixBus mix{};
    Tracks tracks;
    std::vector<float> bus(TRACK_SAMPLES, 99.0f);
    mix.bus = bus.data();
    for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
        mix.tracks[t] = tracks.pointers[t];
        mix.gains[t] = TRACK_GAIN;
    }
    std::vector<float> expected(TRACK_SAMPLES, 0.0f);
    for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
        for (uint32_t l = 0; l < TRACK_SAMPLES; ++l) {
            expected[l] = expected[l] + tracks.samples[t][l] * TRACK_GAIN;
        }
    }
    for (uint32_t b = 0; b < BUS_BLOCKS; ++b) {
        ASSERT_EQ(mix.position, b);
        mix_next_block(&mix);
    }
    EXPECT_EQ(mix.position, 0u);
    EXPECT_EQ(bus, expected);
    mix_next_block(&mix); // block 0 again: cleared first, so not doubled
    EXPECT_EQ(mix.position, 1u);
    EXPECT_EQ(bus, expected);
}
