// A plugin's control input as it declares it, and the rules a value given
// for it in words (a command line's SYMBOL=VALUE) must meet. Plain records
// and text, no plugin host: the LV2 host fills the record from the plugin's
// data, and the rules can be tried without one.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

struct ControlPoint {
    std::string label;
    float value;
};

// What the plugin declares; a bound or the default is NaN where it gives
// none. With lv2:sampleRate the bounds and the default are fractions of the
// sample rate, not values.
struct ControlPort {
    float minimum = std::numeric_limits<float>::quiet_NaN();
    float maximum = std::numeric_limits<float>::quiet_NaN();
    float default_value = std::numeric_limits<float>::quiet_NaN();
    bool sample_rate = false;         // lv2:sampleRate
    bool integer = false;             // lv2:integer: whole numbers only
    bool toggled = false;             // lv2:toggled: 0 is off, 1 is on
    bool enumeration = false;         // lv2:enumeration: only the scale points' values
    std::vector<ControlPoint> points; // lv2:scalePoint
};

// The bounds and the default in the port's own units at `rate`; NaN where
// the plugin gives none. A default that lies in the range only as written
// is taken as written.
struct ControlRange {
    double minimum, maximum, default_value;
};
ControlRange control_range(const ControlPort* port, uint32_t rate);

enum ControlRefusal : uint32_t {
    CONTROL_TAKEN = 0,
    CONTROL_NOT_A_NUMBER = 1, // `why` says what the text is not: "not a finite number"
    CONTROL_NOT_TAKEN = 2,    // `why` says what the port takes: "takes 0 to 2"
};

// `text` as a value of `port` at `rate`: a scale point's label (in any
// case), on/off/true/false for a toggle, or a decimal number (never hex,
// never NaN or infinite, within what a float holds) that meets the port's
// declared rules. A value within rounding of a bound is that bound.
ControlRefusal control_value_of(const ControlPort* port, uint32_t rate, const std::string& text,
                                float* value, std::string* why);
