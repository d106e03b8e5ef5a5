// The values a command line gives a plugin's control inputs: numbers
// written by printf (which the rules share nothing with) against the
// decimal rule, the declared properties of LV2 ports, and the user's text
// cut for a message.
#include "platform/common/control_value.h"
#include "platform/common/echoed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

namespace {
ControlPort ranged(float minimum, float maximum) {
    ControlPort port;
    port.minimum = minimum;
    port.maximum = maximum;
    return port;
}

// What the rules say of `text` for `port` at 48 kHz: the value, or why not.
std::string said(const ControlPort& port, const std::string& text, uint32_t rate = 48000) {
    float value = 0.0f;
    std::string why;
    if (control_value_of(&port, rate, text, &value, &why) != CONTROL_TAKEN) {
        return why;
    }
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", static_cast<double>(value));
    return shown;
}
} // namespace

TEST(ControlValues, DecimalNumbersOnly) {
    const ControlPort any;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    for (int i = 0; i < 2000; ++i) {
        const double number = mantissa(random) * std::pow(10.0, exponent(random));
        char text[64];
        std::snprintf(text, sizeof text, i % 2 == 0 ? "%.17g" : "%.17e", number);
        float value = 0.0f;
        std::string why;
        ASSERT_EQ(control_value_of(&any, 48000, text, &value, &why), CONTROL_TAKEN) << text;
        ASSERT_EQ(value, static_cast<float>(number)) << text;
        std::snprintf(text, sizeof text, "%a", number); // hexadecimal, as C writes it
        ASSERT_EQ(said(any, text), "not a decimal number") << text;
    }
    EXPECT_EQ(said(any, ".5") + said(any, "5.") + said(any, "+2") + said(any, "1E3"), "0.5521000");
    for (const char* bad : {"", ".", "e5", "1e", "1e+", "--1", " 1", "1 ", "1,5", "0x10", "1x"}) {
        EXPECT_EQ(said(any, bad), "not a decimal number") << bad;
    }
    for (const char* name : {"nan", "NaN", "-inf", "+Infinity", "nan(0x1)"}) {
        EXPECT_EQ(said(any, name), "not a finite number") << name;
    }
    EXPECT_EQ(said(any, "1e400"), "too large a number for a control (at most 3.40282e+38)");
    EXPECT_EQ(said(any, "-1e39"), "too large a number for a control (at most 3.40282e+38)");
    EXPECT_EQ(said(any, "1e-400"), "too small a number to hold (use 0)");
}

TEST(ControlValues, DeclaredRangesAtTheRate) {
    // blop's sawtooth: freq from 1e-06 to 0.5 of the rate.
    ControlPort freq = ranged(1e-6f, 0.5f);
    freq.sample_rate = true;
    freq.default_value = 0.01f;
    const ControlRange at_48k = control_range(&freq, 48000);
    EXPECT_NEAR(at_48k.minimum, 0.048, 1e-6);
    EXPECT_EQ(at_48k.maximum, 24000.0);
    EXPECT_NEAR(at_48k.default_value, 480.0, 1e-3);
    freq.default_value = 440.0f; // as blop writes it: in Hz, not a fraction
    EXPECT_EQ(control_range(&freq, 48000).default_value, 440.0);
    EXPECT_EQ(said(freq, "0.048") + " " + said(freq, "24000"), "0.048 24000");
    EXPECT_EQ(said(freq, "24001"), "takes 0.048 to 24000 at 48000 Hz");
    EXPECT_EQ(said(freq, "24000", 44100), "takes 0.0441 to 22050 at 44100 Hz");
    EXPECT_EQ(said(ranged(-90.0f, 24.0f), "24.5"), "takes -90 to 24");
    // 0.1 is a little below the float 0.1f a plugin declares: it is that bound.
    EXPECT_EQ(said(ranged(0.1f, 1.0f), "0.1"), "0.1");
    EXPECT_EQ(said(ranged(0.1f, 1.0f), "0.0999"), "takes 0.1 to 1");
    // Near a bound of 0 is not at it.
    EXPECT_EQ(said(ranged(0.0f, 2.0f), "1e-38") + " " + said(ranged(0.0f, 2.0f), "-1e-9"),
              "1e-38 takes 0 to 2");
    EXPECT_EQ(said(ranged(0.0f, NAN), "-1"), "takes at least 0");
    EXPECT_EQ(said(ranged(NAN, 2.0f), "1e30"), "takes at most 2");
    EXPECT_EQ(said(ranged(NAN, NAN), "-1e30"), "-1e+30");
}

TEST(ControlValues, IntegersTogglesAndScalePoints) {
    ControlPort steps = ranged(1.0f, 8.0f);
    steps.integer = true;
    EXPECT_EQ(said(steps, "3") + said(steps, "3.0") + said(steps, "0.8e1"), "338");
    EXPECT_EQ(said(steps, "2.5"), "takes a whole number from 1 to 8");
    EXPECT_EQ(said(steps, "9"), "takes a whole number from 1 to 8");
    ControlPort bypass = ranged(0.0f, 1.0f);
    bypass.toggled = true;
    EXPECT_EQ(said(bypass, "on") + said(bypass, "OFF") + said(bypass, "True") +
                  said(bypass, "false") + said(bypass, "1") + said(bypass, "0"),
              "101010");
    EXPECT_EQ(said(bypass, "0.5"), "takes 0 or 1 (off or on)");
    EXPECT_EQ(said(bypass, "maybe"), "takes 0 or 1 (off or on)");
    EXPECT_EQ(said(bypass, "nan"), "not a finite number");
    EXPECT_EQ(said(ranged(0.0f, 1.0f), "on"), "not a decimal number");
    ControlPort mode = ranged(0.0f, 2.0f);
    mode.enumeration = true;
    mode.points = {{"High", 2.0f}, {"Low", 0.0f}, {"Band", 1.0f}};
    EXPECT_EQ(said(mode, "band") + said(mode, "HIGH") + said(mode, "0"), "120");
    EXPECT_EQ(said(mode, "1.5"), "takes one of 0 (Low), 1 (Band), 2 (High)");
    EXPECT_EQ(said(mode, "Notch"), "takes one of 0 (Low), 1 (Band), 2 (High)");
    // Without lv2:enumeration the labels are names for values, not the only ones.
    mode.enumeration = false;
    EXPECT_EQ(said(mode, "Band") + said(mode, "1.5"), "11.5");
}

TEST(ControlValues, EchoedTextIsCutWholeCharactersAtATime) {
    EXPECT_EQ(echoed(std::string(80, 'x')), std::string(80, 'x'));
    EXPECT_EQ(echoed(std::string(10000, 'x')), std::string(80, 'x') + "...");
    std::string accents;
    for (int i = 0; i < 81; ++i) {
        accents += "\u00e9";
    }
    EXPECT_EQ(echoed(accents), accents.substr(0, 160) + "...");
}
