#include "platform/common/control_value.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
// Bounds are declared as floats and scaled by the rate in double: a value
// this near one, relatively, is taken for it.
constexpr double BOUND_SLACK = 1e-6;
// A refusal lists this many scale points at most.
constexpr size_t LISTED_POINTS = 8;
const char* const TOGGLE_WORDS = "takes 0 or 1 (off or on)";

std::string lower(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return result;
}

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

size_t digits_at(const std::string& text, size_t at) {
    size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    return end - at;
}

// [+-] digits [. digits] [e [+-] digits], with a digit before or after the
// point: what people write, and not hex, which strtod would also take.
bool decimal_form(const std::string& text) {
    size_t at = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    const size_t whole = digits_at(text, at);
    at += whole;
    size_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        fraction = digits_at(text, at + 1);
        at += 1 + fraction;
    }
    if (whole + fraction == 0) {
        return false;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        const bool sign = at + 1 < text.size() && (text[at + 1] == '+' || text[at + 1] == '-');
        at += sign ? 2 : 1;
        const size_t exponent = digits_at(text, at);
        if (exponent == 0) {
            return false;
        }
        at += exponent;
    }
    return at == text.size();
}

bool non_finite_name(const std::string& text) {
    std::string name = lower(text);
    if (!name.empty() && (name[0] == '+' || name[0] == '-')) {
        name.erase(0, 1);
    }
    return name == "nan" || name == "inf" || name == "infinity" || name.rfind("nan(", 0) == 0;
}

ControlRefusal number_of(const std::string& text, double* value, std::string* why) {
    if (non_finite_name(text)) {
        *why = "not a finite number";
        return CONTROL_NOT_A_NUMBER;
    }
    if (!decimal_form(text)) {
        *why = "not a decimal number";
        return CONTROL_NOT_A_NUMBER;
    }
    errno = 0;
    *value = std::strtod(text.c_str(), nullptr);
    const bool beyond_double = errno == ERANGE;
    if (std::fabs(*value) > FLT_MAX) {
        *why = "too large a number for a control (at most " + number_text(FLT_MAX) + ")";
        return CONTROL_NOT_A_NUMBER;
    }
    if (beyond_double) {
        *why = "too small a number to hold (use 0)";
        return CONTROL_NOT_A_NUMBER;
    }
    return CONTROL_TAKEN;
}

bool near(double value, double bound) {
    return std::fabs(value - bound) <= BOUND_SLACK * std::fabs(bound);
}

// "takes 0 to 2", "takes a whole number of at least 1", "takes 0.048 to
// 24000 at 48000 Hz".
std::string range_words(const ControlPort* port, const ControlRange* range, uint32_t rate) {
    const bool low = !std::isnan(range->minimum);
    const bool high = !std::isnan(range->maximum);
    std::string words = port->integer ? "takes a whole number" : "takes";
    if (low && high) {
        words += (port->integer ? " from " : " ") + number_text(range->minimum) + " to " +
                 number_text(range->maximum);
    } else if (low || high) {
        words += (port->integer ? " of at " : " at ") + std::string(low ? "least " : "most ") +
                 number_text(low ? range->minimum : range->maximum);
    }
    if (port->sample_rate && (low || high)) {
        words += " at " + std::to_string(rate) + " Hz";
    }
    return words;
}

std::string points_words(const ControlPort* port) {
    std::vector<ControlPoint> points = port->points;
    std::stable_sort(
        points.begin(), points.end(),
        [](const ControlPoint& a, const ControlPoint& b) { return a.value < b.value; });
    std::string words = "takes one of ";
    for (size_t p = 0; p < points.size() && p < LISTED_POINTS; ++p) {
        words += (p == 0 ? "" : ", ") + number_text(points[p].value) + " (" + points[p].label + ")";
    }
    return words + (points.size() > LISTED_POINTS ? ", ..." : "");
}

// A scale point's label or a toggle's word; false when `text` is neither.
bool word_value(const ControlPort* port, const std::string& text, float* value) {
    const std::string word = lower(text);
    for (const ControlPoint& point : port->points) {
        if (lower(point.label) == word) {
            *value = point.value;
            return true;
        }
    }
    if (port->toggled && (word == "on" || word == "true" || word == "off" || word == "false")) {
        *value = word == "on" || word == "true" ? 1.0f : 0.0f;
        return true;
    }
    return false;
}

// The declared rules for a number; CONTROL_NOT_TAKEN with what the port
// takes.
ControlRefusal declared_value(const ControlPort* port, uint32_t rate, double number, float* value,
                              std::string* why) {
    if (port->toggled) {
        if (number != 0.0 && number != 1.0) {
            *why = TOGGLE_WORDS;
            return CONTROL_NOT_TAKEN;
        }
        *value = static_cast<float>(number);
        return CONTROL_TAKEN;
    }
    if (port->enumeration && !port->points.empty()) {
        for (const ControlPoint& point : port->points) {
            if (near(number, point.value)) {
                *value = point.value;
                return CONTROL_TAKEN;
            }
        }
        *why = points_words(port);
        return CONTROL_NOT_TAKEN;
    }
    const ControlRange range = control_range(port, rate);
    if (!std::isnan(range.minimum) && near(number, range.minimum)) {
        number = range.minimum;
    } else if (!std::isnan(range.maximum) && near(number, range.maximum)) {
        number = range.maximum;
    }
    const bool outside = (!std::isnan(range.minimum) && number < range.minimum) ||
                         (!std::isnan(range.maximum) && number > range.maximum);
    if (outside || (port->integer && number != std::round(number))) {
        *why = range_words(port, &range, rate);
        return CONTROL_NOT_TAKEN;
    }
    *value = static_cast<float>(number);
    return CONTROL_TAKEN;
}
} // namespace

ControlRange control_range(const ControlPort* port, uint32_t rate) {
    const double scale = port->sample_rate ? static_cast<double>(rate) : 1.0;
    ControlRange range{port->minimum * scale, port->maximum * scale, port->default_value * scale};
    // Some plugins (blop's oscillators) write the default in Hz beside
    // bounds in fractions of the rate: the reading that falls in the range
    // is the one meant.
    auto inside = [&range](double value) {
        return !(value < range.minimum) && !(value > range.maximum);
    };
    if (!inside(range.default_value) && inside(port->default_value)) {
        range.default_value = port->default_value;
    }
    return range;
}

ControlRefusal control_value_of(const ControlPort* port, uint32_t rate, const std::string& text,
                                float* value, std::string* why) {
    why->clear();
    if (word_value(port, text, value)) {
        return CONTROL_TAKEN;
    }
    double number = 0.0;
    const ControlRefusal refusal = number_of(text, &number, why);
    if (refusal == CONTROL_TAKEN) {
        return declared_value(port, rate, number, value, why);
    }
    // A word that is not one of a toggle's or a list's: what the port takes.
    const bool listed = port->enumeration && !port->points.empty();
    if (!decimal_form(text) && !non_finite_name(text) && (port->toggled || listed)) {
        *why = port->toggled ? TOGGLE_WORDS : points_words(port);
        return CONTROL_NOT_TAKEN;
    }
    return refusal;
}
