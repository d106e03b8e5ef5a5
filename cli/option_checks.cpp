#include "cli/option_checks.h"

#include "engine/realtime/realtime_plan.h"
#include "platform/common/echoed.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

// Numbers on the command line are decimal, as people write them: CLI11's own
// conversion would read "0100" as octal, "0x40" as hexadecimal and "1e3" or
// "nan" as numbers of seconds.
bool whole_of(const std::string& text, uint64_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

bool decimal_of(const std::string& text, double* value) {
    auto points = std::count(text.begin(), text.end(), '.');
    if (points > 1 || text.size() == static_cast<size_t>(points) ||
        text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    *value = std::strtod(text.c_str(), nullptr);
    return true;
}

std::string decimal_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string refused(const std::string& rule, const std::string& text) {
    return "takes " + rule + ", not '" + echoed(text) + "'";
}

CLI::Validator whole(uint64_t low, uint64_t high) {
    std::string low_text = std::to_string(low);
    std::string high_text = std::to_string(high);
    std::string rule = high == NO_LIMIT ? "a whole number of at least " + low_text
                                        : "a whole number from " + low_text + " to " + high_text;
    std::string shown =
        high == NO_LIMIT ? ">= " + low_text : "[" + low_text + " - " + high_text + "]";
    return CLI::Validator(
        [low, high, rule](std::string& text) {
            uint64_t value = 0;
            if (!whole_of(text, &value) || value < low || value > high) {
                return refused(rule, text);
            }
            text = std::to_string(value);
            return std::string();
        },
        shown);
}

CLI::Validator decimal(double low, double high, bool above_low, const std::string& what) {
    std::string rule = what +
                       (above_low ? " more than " + decimal_text(low) + " and at most "
                                  : " from " + decimal_text(low) + " to ") +
                       decimal_text(high);
    std::string shown =
        (above_low ? "(" : "[") + decimal_text(low) + " - " + decimal_text(high) + "]";
    return CLI::Validator(
        [low, high, above_low, rule](std::string& text) {
            double value = 0.0;
            bool fits = decimal_of(text, &value) && value <= high &&
                        (above_low ? value > low : value >= low);
            return fits ? std::string() : refused(rule, text);
        },
        shown);
}

std::string listed(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : separator) + name;
    }
    return text;
}

CLI::Validator core_choice() {
    CLI::Validator count = whole(1, MAX_RT_THREADS);
    std::string rule = "all or a whole number from 1 to " + std::to_string(MAX_RT_THREADS);
    return CLI::Validator(
        [count, rule](std::string& text) {
            if (CLI::detail::to_lower(text) == "all") {
                text = std::to_string(ALL_CORES);
                return std::string();
            }
            return count(text).empty() ? std::string() : refused(rule, text);
        },
        "all|" + count.get_description());
}
