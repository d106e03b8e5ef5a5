#include "cli/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char* const CLI_USAGE =
    "Usage: test_zem_cli [--seconds S] [--repeat N] [--json]\n"
    "Measures how much real-time audio processing this processor sustains:\n"
    "  ZEM-1  Q15 integer recursive filter, samples filtered per sample period\n"
    "  ZEM-2  the same filter in single-precision float\n"
    "  ZEM-M  64-track float mix, tracks mixed in real time and Mfloat/s\n"
    "Options:\n"
    "  --seconds S  ZEM-1 and ZEM-2 run S seconds each, ZEM-M 2*S\n"
    "               (0 < S <= 3600, decimal; default 20)\n"
    "  --repeat N   N whole runs, then minimum, median and maximum (1..1000)\n"
    "  --json       one JSON object per run, each on a line of its own\n"
    "  --help       this text\n"
    "  --version    the program's version\n";

namespace {
bool parse_seconds(const char* text, int64_t* filter_ms) {
    if (*text == '\0' || std::strspn(text, "0123456789.") != std::strlen(text)) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0.0 ||
        seconds > MAX_SECONDS) {
        return false;
    }
    int64_t ms = static_cast<int64_t>(std::llround(seconds * 1000.0));
    *filter_ms = ms < 1 ? 1 : ms;
    return true;
}

bool parse_repeat(const char* text, uint32_t* repeat) {
    if (*text == '\0' || std::strspn(text, "0123456789") != std::strlen(text) ||
        std::strlen(text) > 4) {
        return false;
    }
    unsigned long value = std::strtoul(text, nullptr, 10);
    if (value < 1 || value > MAX_REPEAT) {
        return false;
    }
    *repeat = static_cast<uint32_t>(value);
    return true;
}
} // namespace

bool parse_cli_options(int argc, const char* const* argv, CliOptions* options,
                       std::string* problem) {
    *options = CliOptions{DEFAULT_FILTER_MS, 1, false, false, false};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            options->json = true;
        } else if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--seconds" || arg == "--repeat") {
            if (i + 1 >= argc) {
                *problem = "option " + arg + " needs a value";
                return false;
            }
            const char* value = argv[++i];
            if (arg == "--seconds" && !parse_seconds(value, &options->filter_ms)) {
                *problem = "--seconds takes a decimal number of seconds, more than 0 and at "
                           "most 3600, not '" +
                           std::string(value) + "'";
                return false;
            }
            if (arg == "--repeat" && !parse_repeat(value, &options->repeat)) {
                *problem = "--repeat takes a whole number from 1 to 1000, not '" +
                           std::string(value) + "'";
                return false;
            }
        } else {
            *problem = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}
