#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
const char* const DESCRIPTION =
    "Measures how much real-time audio processing this processor sustains:\n"
    "  ZEM-1  Q15 integer recursive filter, samples filtered per sample period\n"
    "  ZEM-2  the same filter in single-precision float\n"
    "  ZEM-M  64-track float mix, tracks mixed in real time and Mfloat/s\n"
    "Without a subcommand: the throughput run of the three tests.\n"
    "With 'realtime': how many streams each test sustains at a buffer size with\n"
    "no missed period, on one core and on all (see 'test_zem_cli realtime --help').";

const char* const REALTIME_DESCRIPTION =
    "Real-time capacity: for each buffer size and core count, the idle system\n"
    "first, then the largest number of streams of each test that runs period\n"
    "after period with none missed, as an audio device would need.\n"
    "With --server jack the periods are those of a running JACK server (or of\n"
    "PipeWire, under pw-jack): its buffer size and rate, on its one thread.";

bool parse_seconds(const std::string& text, int64_t* filter_ms) {
    if (text.empty() || std::strspn(text.c_str(), "0123456789.") != text.size()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0.0 ||
        seconds > MAX_SECONDS) {
        return false;
    }
    int64_t ms = static_cast<int64_t>(std::llround(seconds * 1000.0));
    *filter_ms = ms < 1 ? 1 : ms;
    return true;
}

bool parse_repeat(const std::string& text, uint32_t* repeat) {
    if (text.empty() || std::strspn(text.c_str(), "0123456789") != text.size() || text.size() > 4) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value < 1 || value > MAX_REPEAT) {
        return false;
    }
    *repeat = static_cast<uint32_t>(value);
    return true;
}

// "ZEM-1", "zem1", "zem-m"... to a test; RT_TESTS when none.
uint32_t test_of_name(const std::string& name) {
    std::string plain;
    for (char c : name) {
        if (c != '-') {
            plain += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    for (uint32_t t = 0; t < RT_TESTS; ++t) {
        if (plain == RT_TEST_JSON_NAMES[t]) {
            return t;
        }
    }
    return RT_TESTS;
}

// "all" or a number of cores from 1 to MAX_RT_THREADS; false otherwise.
bool core_choice_of(const std::string& text, uint32_t* choice) {
    if (text == "all") {
        *choice = ALL_CORES;
        return true;
    }
    if (text.empty() || text.size() > 3 || std::strspn(text.c_str(), "0123456789") != text.size()) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    *choice = static_cast<uint32_t>(value);
    return value >= 1 && value <= MAX_RT_THREADS;
}

struct RealtimeValues {
    std::vector<uint32_t> buffers{64, 128, 256, 512, 1024};
    std::vector<std::string> tests{"ZEM-1", "ZEM-2", "ZEM-M"};
    std::vector<std::string> cores{"1", "all"};
    CLI::Option* buffers_option;
    CLI::Option* rate_option;
    CLI::Option* cores_option;
    CLI::Option* connect_option;
};

void add_realtime(CLI::App* app, CliOptions* options, RealtimeValues* values) {
    CLI::App* realtime = app->add_subcommand("realtime", REALTIME_DESCRIPTION);
    values->buffers_option =
        realtime
            ->add_option("--buffers", values->buffers,
                         "buffer sizes, samples per period, 16 to 8192, separated by commas "
                         "(default 64,128,256,512,1024); with --server, one: the size the "
                         "server must be running")
            ->delimiter(',')
            ->check(CLI::Range(16, 8192).description(""))
            ->type_name("B");
    values->rate_option =
        realtime
            ->add_option("--rate", options->plan.rate,
                         "sample rate in Hz, 8000 to 384000 (default 48000); with --server, the "
                         "rate the server must be running")
            ->check(CLI::Range(8000, 384000).description(""))
            ->type_name("HZ");
    realtime
        ->add_option("--server", options->server,
                     "jack: run the periods in a JACK client's process callback, at the "
                     "running server's buffer size and rate, on one core (Linux)")
        ->check(CLI::IsMember({"jack"}).description(""))
        ->type_name("SERVER");
    values->connect_option =
        realtime
            ->add_option("--connect", options->connect,
                         "with --server: connect our output port (silence) to this port; "
                         "unconnected otherwise")
            ->type_name("PORT");
    realtime
        ->add_option("--tests", values->tests,
                     "tests to search: ZEM-1, ZEM-2, ZEM-M (default all three)")
        ->delimiter(',')
        ->check(CLI::Validator(
            [](std::string& name) {
                return test_of_name(name) < RT_TESTS ? std::string()
                                                     : "no test named '" + name + "'";
            },
            ""))
        ->type_name("T");
    values->cores_option =
        realtime
            ->add_option("--cores", values->cores,
                         "core counts: 1, all (one thread per physical core) or N (default 1,all)")
            ->delimiter(',')
            ->check(CLI::Validator(
                [](std::string& text) {
                    uint32_t choice = 0;
                    return core_choice_of(text, &choice)
                               ? std::string()
                               : "'" + text + "' is not 'all' nor 1 to 64";
                },
                ""))
            ->type_name("C");
    realtime
        ->add_option("--confirm", options->plan.confirm_seconds,
                     "length of each confirm run in seconds, 0.5 to 3600 (default 10)")
        ->check(CLI::Range(0.5, 3600.0).description(""))
        ->type_name("S");
    realtime
        ->add_option("--idle", options->plan.idle_seconds,
                     "length of the idle system's run in seconds, 0.5 to 3600 (default 5)")
        ->check(CLI::Range(0.5, 3600.0).description(""))
        ->type_name("S");
    realtime
        ->add_option("--allowed-misses", options->plan.allowed_miss_fraction,
                     "missed periods allowed, a fraction of the periods, 0 to 1 (default 0)")
        ->check(CLI::Range(0.0, 1.0).description(""))
        ->type_name("F");
    realtime->add_flag("--json", options->json, "one JSON document instead of the tables");
    realtime
        ->add_option("--svg", options->svg_path,
                     "also write the histograms of every run to this SVG file")
        ->type_name("FILE");
}

void fill_plan(const RealtimeValues* values, RtPlan* plan) {
    plan->buffers = values->buffers;
    plan->tests.clear();
    for (uint32_t t = 0; t < RT_TESTS; ++t) {
        for (const std::string& name : values->tests) {
            if (test_of_name(name) == t) {
                plan->tests.push_back(static_cast<RtTestKind>(t));
                break;
            }
        }
    }
    plan->core_choices.clear();
    for (const std::string& text : values->cores) {
        uint32_t choice = 0;
        if (core_choice_of(text, &choice)) {
            plan->core_choices.push_back(choice);
        }
    }
}

// Inside a server the buffer size, the rate and the thread are the
// server's: --buffers and --rate may only name what it must be running.
bool server_options_fit(const RealtimeValues* values, CliOptions* options, std::string* problem) {
    if (options->server.empty()) {
        if (values->connect_option->count() > 0) {
            *problem = "--connect is for --server jack";
            return false;
        }
        return true;
    }
    if (values->cores_option->count() > 0) {
        *problem = "--cores is for our own clock: inside the server the streams run on its one "
                   "thread";
        return false;
    }
    if (values->buffers_option->count() > 0) {
        if (values->buffers.size() != 1) {
            *problem = "with --server jack the buffer size is the server's: give at most one "
                       "--buffers, the size it must be running";
            return false;
        }
        options->expect_frames = values->buffers[0];
    }
    options->expect_rate = values->rate_option->count() > 0 ? options->plan.rate : 0;
    return true;
}

std::string one_line(std::string text) {
    for (char& c : text) {
        c = c == '\n' ? ' ' : c;
    }
    return text;
}
} // namespace

bool parse_cli_options(int argc, const char* const* argv, CliOptions* options,
                       std::string* problem) {
    *options = CliOptions{};
    options->filter_ms = DEFAULT_FILTER_MS;
    options->repeat = 1;
    options->plan.rate = DEFAULT_RATE;
    options->plan.confirm_seconds = DEFAULT_CONFIRM_SECONDS;
    options->plan.idle_seconds = DEFAULT_IDLE_SECONDS;
    options->plan.allowed_miss_fraction = 0.0;

    CLI::App app{DESCRIPTION, "test_zem_cli"};
    app.set_help_flag("-h,--help", "this text");
    std::string seconds;
    std::string repeat;
    CLI::Option* seconds_option =
        app.add_option("--seconds", seconds,
                       "ZEM-1 and ZEM-2 run S seconds each, ZEM-M 2*S (0 < S <= 3600, decimal; "
                       "default 20)")
            ->check(CLI::Validator(
                [options](std::string& text) {
                    return parse_seconds(text, &options->filter_ms)
                               ? std::string()
                               : "takes a decimal number of seconds, more than 0 and at most "
                                 "3600, not '" +
                                     text + "'";
                },
                ""))
            ->type_name("S");
    CLI::Option* repeat_option =
        app.add_option("--repeat", repeat,
                       "N whole runs, then minimum, median and maximum (1..1000)")
            ->check(CLI::Validator(
                [options](std::string& text) {
                    return parse_repeat(text, &options->repeat)
                               ? std::string()
                               : "takes a whole number from 1 to 1000, not '" + text + "'";
                },
                ""))
            ->type_name("N");
    app.add_flag("--json", options->json, "one JSON object per run, each on a line of its own");
    app.add_flag("--version", options->version, "the program's version");
    RealtimeValues values;
    add_realtime(&app, options, &values);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options->help = true;
        options->help_text = app.help();
        return true;
    } catch (const CLI::ParseError& error) {
        *problem = one_line(error.what());
        return false;
    }
    options->realtime = app.got_subcommand("realtime");
    if (options->realtime && (seconds_option->count() > 0 || repeat_option->count() > 0)) {
        *problem = "--seconds and --repeat are for the throughput run, not for realtime";
        return false;
    }
    if (!server_options_fit(&values, options, problem)) {
        return false;
    }
    fill_plan(&values, &options->plan);
    return true;
}
