// The chain's wiring as a plan, without plugins.
#include "platform/lv2/lv2_wiring.h"

#include <gtest/gtest.h>

namespace {
WiringPorts audio(const char* name, uint32_t in, uint32_t out, uint32_t side = 0) {
    return WiringPorts{name, in, side, out, 0, 0, false, false, false};
}

TEST(WiringPlan, MonoIntoStereoFeedsTheLastOutputTwice) {
    const Wiring w = plan_wiring({audio("A", 1, 1), audio("B", 2, 2)}, false);
    EXPECT_EQ(w.links[1].input_source, (std::vector<uint32_t>{3, 3}));
    EXPECT_EQ(w.links[1].sum_count, 0u);
    EXPECT_NE(w.words.find("feeding input 1 to 2 (mono into stereo)"), std::string::npos);
}

TEST(WiringPlan, StereoIntoMonoSumsIntoAChannelOfItsOwn) {
    const Wiring w = plan_wiring({audio("A", 2, 3), audio("B", 1, 1), audio("C", 2, 2)}, false);
    const WiredLink& b = w.links[1];
    ASSERT_EQ(b.input_source.size(), 1u);
    EXPECT_EQ(b.sum_first, w.links[0].first_output);
    EXPECT_EQ(b.sum_count, 3u);
    EXPECT_NE(b.input_source[0], w.links[0].first_output); // not one of A's outputs
    EXPECT_GT(b.first_output, b.input_source[0]);
    EXPECT_EQ(w.channels, b.first_output + 1 + 2);
    EXPECT_NE(w.words.find("outputs 1 to 3 of the one before summed into input 1"),
              std::string::npos);
    const Wiring two = plan_wiring({audio("A", 2, 2), audio("B", 1, 1)}, false);
    EXPECT_NE(two.words.find("outputs 1 and 2 of the one before summed into input 1 (stereo"),
              std::string::npos);
}

TEST(WiringPlan, SideChainsAreSilentAndNotCountedByIndex) {
    const Wiring w = plan_wiring({audio("EQ", 1, 1), audio("Comp", 2, 2, 2)}, false);
    EXPECT_EQ(w.links[1].input_source.size(), 2u);
    EXPECT_NE(w.words.find("side-chain inputs 3 to 4: silence"), std::string::npos);
    EXPECT_EQ(w.words.find("feeding inputs 1 to 3"), std::string::npos);
}

TEST(WiringPlan, NotesGoToTheFirstNoteTakerAndMidiPassesOn) {
    WiringPorts effect = audio("Effect", 1, 1);
    effect.midi_in = true;
    WiringPorts chord{"Chord", 0, 0, 0, 0, 0, true, true, true};
    WiringPorts piano{"Piano", 0, 0, 2, 0, 0, true, false, true};
    Wiring w = plan_wiring({effect, chord, piano}, false);
    EXPECT_FALSE(w.links[0].gets_notes);
    EXPECT_TRUE(w.links[1].gets_notes);
    EXPECT_FALSE(w.links[2].gets_notes);
    EXPECT_TRUE(w.links[2].midi_from_before);
    w = plan_wiring({effect, piano}, true);
    EXPECT_TRUE(w.links[0].gets_notes);
    EXPECT_FALSE(w.links[1].gets_notes || w.links[1].midi_from_before);
    WiringPorts cv = audio("Filter", 1, 1);
    cv.cv_in = 3;
    EXPECT_NE(plan_wiring({cv}, false).words.find("3 CV inputs at the default"), std::string::npos);
}
} // namespace
