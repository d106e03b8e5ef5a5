#include "cli/options.h"

#include "platform/common/echoed.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {
const char* const DESCRIPTION =
    "Measures how much real-time audio processing this processor sustains:\n"
    "  ZEM-1  Q15 integer recursive filter, samples filtered per sample period\n"
    "  ZEM-2  the same filter in single-precision float\n"
    "  ZEM-M  64-track float mix, tracks mixed in real time and Mfloat/s\n"
    "Without a subcommand: the throughput run of the three tests.\n"
    "With 'realtime': how many streams of each test play at a buffer size, missing\n"
    "no more periods than the idle system, on one core and on all (see\n"
    "'test_zem_cli realtime --help').\n"
    "With 'check': whether this system is set up for real-time audio.\n"
    "With 'compare': two or more reports written with --json, side by side.\n"
    "With 'plugins': the LV2 plugins installed and whether they can be hosted.";

const char* const REALTIME_DESCRIPTION =
    "Real-time capacity: for each buffer size and core count, the idle system\n"
    "first, then the largest number of streams of each test that plays: run\n"
    "together every period through a hold of --confirm seconds, it missed no\n"
    "more periods, whatever their causes, than the idle system in that time.\n"
    "With --server jack the periods are those of a running JACK server (or of\n"
    "PipeWire, under pw-jack): its buffer size and rate, on its one thread.";

const char* const CHECK_DESCRIPTION =
    "Whether this system is set up for real-time audio: each setting that\n"
    "matters, its value and what to change.";

const char* const COMPARE_DESCRIPTION = "Two or more reports written with --json, side by side.";

const char* const PLUGINS_DESCRIPTION =
    "The LV2 plugins installed (in LV2_PATH when it is set, the system's folders\n"
    "otherwise): name, URI, class, ports, whether each declares hardRTCapable,\n"
    "the features it requires, and whether it can be hosted or what it lacks.";

constexpr uint64_t NO_LIMIT = std::numeric_limits<uint64_t>::max();

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

// A whole number from low to high, handed on to CLI11 in plain decimal.
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

// A decimal number from low (excluded when `above_low`) to high.
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

// "ZEM-1", "zem1", "zem-m"... to a test; RT_TESTS when none.
uint32_t test_of_name(const std::string& name) {
    std::string plain;
    for (char c : name) {
        if (c != '-') {
            plain += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    for (uint32_t t = 0; t < RT_TESTS; ++t) {
        if (plain == TEST_JSON_NAMES[t]) {
            return t;
        }
    }
    return RT_TESTS;
}

std::string listed(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : separator) + name;
    }
    return text;
}

CLI::Validator test_choice() {
    std::vector<RtTestKind> all{RT_ZEM1, RT_ZEM2, RT_ZEMM};
    std::string rule = std::string(TEST_NAMES[RT_ZEM1]) + ", " + TEST_NAMES[RT_ZEM2] + " or " +
                       TEST_NAMES[RT_ZEMM];
    return CLI::Validator(
        [rule](std::string& text) {
            uint32_t test = test_of_name(text);
            if (test == RT_TESTS) {
                return refused(rule, text);
            }
            text = std::to_string(test);
            return std::string();
        },
        "{" + listed(plan_test_names(all), ",") + "}");
}

// "all" (ALL_CORES) or a number of cores.
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

// Options whose values are read after the parse.
struct Bound {
    double seconds = static_cast<double>(DEFAULT_FILTER_MS) / 1000.0;
    CLI::Option* buffers;
    CLI::Option* rate;
    CLI::Option* server;
    CLI::Option* tests;
    RtPlanAsk ask; // what the plan's rules read besides the plan
};

CLI::App* add_realtime(CLI::App* app, CliOptions* options, Bound* bound) {
    CLI::App* realtime = app->add_subcommand("realtime", REALTIME_DESCRIPTION);
    RtPlan* plan = &options->plan;
    bound->buffers = realtime
                         ->add_option("--buffers", plan->buffers,
                                      "buffer sizes, samples per period, separated by commas; "
                                      "with --server, one: the size the server must be running")
                         ->delimiter(',')
                         ->transform(whole(MIN_BUFFER, MAX_BUFFER))
                         ->capture_default_str()
                         ->type_name("B");
    bound->rate = realtime
                      ->add_option("--rate", plan->rate,
                                   "sample rate in Hz; with --server, the rate the server must "
                                   "be running")
                      ->transform(whole(MIN_RATE, MAX_RATE))
                      ->capture_default_str()
                      ->type_name("HZ");
    bound->server = realtime
                        ->add_option("--server", options->server,
                                     "run the periods in a JACK client's process callback, at "
                                     "the running server's buffer size and rate, on one core "
                                     "(Linux)")
                        ->transform(CLI::IsMember({"jack"}, CLI::ignore_case))
                        ->type_name("SERVER");
    realtime
        ->add_option("--connect", options->connect,
                     "connect our output port (silence) to this port; unconnected otherwise")
        ->needs(bound->server)
        ->type_name("PORT");
    bound->tests =
        realtime->add_option("--tests", plan->tests, "tests to search, separated by commas")
            ->delimiter(',')
            ->transform(test_choice())
            ->default_str("[" + listed(plan_test_names(plan->tests), ",") + "]")
            ->type_name("T");
    realtime
        ->add_option("--cores", plan->core_choices,
                     "core counts, separated by commas: all is one thread per physical core")
        ->delimiter(',')
        ->transform(core_choice())
        ->default_str("[" + listed(plan_core_names(plan->core_choices), ",") + "]")
        ->excludes(bound->server)
        ->type_name("C");
    realtime
        ->add_option("--streams", bound->ask.streams,
                     "one hold of exactly K streams of each test: plays or does not play")
        ->transform(whole(1, NO_LIMIT))
        ->type_name("K");
    realtime
        ->add_option("--confirm", plan->confirm_seconds,
                     "length of each hold in seconds: the longer, the stronger the claim")
        ->check(decimal(MIN_RUN_SECONDS, MAX_SECONDS, false, "a number of seconds"))
        ->capture_default_str()
        ->type_name("S");
    realtime->add_option("--idle", plan->idle_seconds, "length of the idle system's run in seconds")
        ->check(decimal(MIN_RUN_SECONDS, MAX_SECONDS, false, "a number of seconds"))
        ->capture_default_str()
        ->type_name("S");
    realtime
        ->add_option("--allowed-misses", plan->allowed_miss_fraction,
                     "missed periods allowed, a fraction of the periods")
        ->check(decimal(0.0, 1.0, false, "a fraction"))
        ->capture_default_str()
        ->type_name("F");
    realtime
        ->add_option("--memory", plan->memory_gb,
                     "what each plugin load's process may allocate, in GB (default: " +
                         std::to_string(static_cast<int>(MEMORY_SHARE * 100.0)) +
                         " % of the memory available)")
        ->check(decimal(0.0, MAX_MEMORY_GB, true, "a number of gigabytes"))
        ->type_name("GB");
    realtime->add_flag_callback(
        "--allow-idle-states", [plan] { plan->hold_idle_states = false; },
        "let the processor enter its deep idle states (held out of them otherwise)");
    realtime
        ->add_option("--plugin", bound->ask.plugins,
                     "a load of LV2 plugins, run in order on one track: URI, or URI1+URI2+...; "
                     "again for another load (only these run unless --tests is given)")
        ->type_name("URI");
    realtime
        ->add_option("--set", bound->ask.settings,
                     "a control port of every plugin that has it (SYMBOL=VALUE), or of the "
                     "K-th plugin of a chain (K:SYMBOL=VALUE): a decimal number, a scale "
                     "point's label, or on/off")
        ->type_name("SETTING");
    realtime
        ->add_option("--preset", bound->ask.preset, "load this preset into the plugin it is for")
        ->type_name("URI");
    realtime
        ->add_option("--input", bound->ask.input,
                     "what the plugins hear: seeded pink noise at -18 dBFS, a sine, or silence")
        ->check(CLI::IsMember(
            std::vector<std::string>(std::begin(PLUGIN_INPUT_NAMES), std::end(PLUGIN_INPUT_NAMES))))
        ->capture_default_str()
        ->type_name("SIGNAL");
    realtime->add_flag("--notes", bound->ask.notes,
                       "play the note pattern into the first plugin with a MIDI input, even an "
                       "effect (otherwise only instruments and MIDI plugins get notes)");
    realtime->add_flag("--json", options->json, "one JSON document instead of the tables");
    realtime->add_flag("--progress", options->progress_lines,
                       "print each step on a line of its own to stderr, also into a file or pipe");
    realtime
        ->add_option("--svg", options->svg_path,
                     "also write the histograms of every run to this SVG file")
        ->type_name("FILE");
    return realtime;
}

// The realtime plan from what was given: the plan's own rules, then what
// a server must be running.
bool resolve_realtime_plan(Bound* bound, CliOptions* options, std::string* problem) {
    RtPlanAsk* ask = &bound->ask;
    ask->tests_given = bound->tests->count() > 0;
    ask->buffers_given = bound->buffers->count() > 0;
    ask->in_server = !options->server.empty();
    if (!plan_resolve(ask, &options->plan, problem)) {
        return false;
    }
    if (ask->in_server) {
        options->expect_frames = ask->buffers_given ? options->plan.buffers[0] : 0;
        options->expect_rate = bound->rate->count() > 0 ? options->plan.rate : 0;
    }
    return true;
}

// CLI11 writes a refused value as "--rate: takes ..."; ours read as one
// sentence without the colon. CLI11 echoes what it did not expect whole:
// each long word, quoted or not, is cut.
std::string one_line(std::string text, bool refused_value) {
    size_t colon = text.find(": ");
    if (refused_value && text.rfind("--", 0) == 0 && colon != std::string::npos) {
        text.erase(colon, 1);
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::string line;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find_first_of(" '", start), text.size());
        line += echoed(text.substr(start, end - start)) + text.substr(end, 1);
        start = end + 1;
    }
    return line;
}
} // namespace

bool parse_cli_options(int argc, const char* const* argv, CliOptions* options,
                       std::string* problem) {
    *options = CliOptions{};
    plan_set_defaults(&options->plan);

    CLI::App app{DESCRIPTION, "test_zem_cli"};
    app.set_help_flag("-h,--help", "this text");
    app.require_subcommand(0, 1);
    Bound bound{};
    CLI::Option* seconds =
        app.add_option("--seconds", bound.seconds,
                       "ZEM-1 and ZEM-2 run S seconds each, ZEM-M 2*S (a decimal number)")
            ->check(decimal(0.0, MAX_SECONDS, true, "a number of seconds"))
            ->capture_default_str()
            ->type_name("S");
    CLI::Option* repeat = app.add_option("--repeat", options->repeat,
                                         "N whole runs, then minimum, median and maximum")
                              ->transform(whole(1, MAX_REPEAT))
                              ->capture_default_str()
                              ->type_name("N");
    app.add_flag("--json", options->json, "one JSON object per run, each on a line of its own");
    app.add_flag("--version", options->version, "the program's version");
    CLI::App* realtime = add_realtime(&app, options, &bound);
    CLI::App* check = app.add_subcommand("check", CHECK_DESCRIPTION);
    check->add_flag("--json", options->json, "one JSON document instead of the text");
    CLI::App* compare = app.add_subcommand("compare", COMPARE_DESCRIPTION);
    compare->add_option("reports", options->compare_files, "the reports, two or more")
        ->type_name("FILE");
    compare->add_flag("--json", options->json, "one JSON document instead of the tables");
    compare->add_option("--svg", options->svg_path, "also draw the comparison in this SVG file")
        ->type_name("FILE");
    CLI::App* plugins = app.add_subcommand("plugins", PLUGINS_DESCRIPTION);
    plugins->add_flag("--json", options->json, "one JSON document instead of the text");
    // The throughput run's options are refused after a subcommand, not
    // taken for one of its arguments.
    for (CLI::App* subcommand : {realtime, check, compare, plugins}) {
        subcommand->fallthrough()->excludes(seconds)->excludes(repeat);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options->help = true;
        options->help_text = app.help();
        return true;
    } catch (const CLI::ValidationError& error) {
        *problem = one_line(error.what(), true);
        return false;
    } catch (const CLI::ParseError& error) {
        *problem = one_line(error.what(), false);
        return false;
    }
    options->filter_ms = std::max<int64_t>(1, std::llround(bound.seconds * 1000.0));
    if (app.got_subcommand(realtime)) {
        options->command = CLI_REALTIME;
        return resolve_realtime_plan(&bound, options, problem);
    }
    if (app.got_subcommand(check)) {
        options->command = CLI_CHECK;
    }
    if (app.got_subcommand(plugins)) {
        options->command = CLI_PLUGINS;
    }
    if (app.got_subcommand(compare)) {
        options->command = CLI_COMPARE;
        if (options->compare_files.size() < 2) {
            *problem = "compare takes at least two reports, not " +
                       std::to_string(options->compare_files.size());
            return false;
        }
    }
    return true;
}
