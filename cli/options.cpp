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

// The default plan's lists, as the README gives them: 64 to 1024 samples,
// one core and all; docs/measurements.md says how long such a run takes.
const std::vector<uint32_t> DEFAULT_BUFFERS{64, 128, 256, 512, 1024};
const std::vector<uint32_t> DEFAULT_CORES{1, ALL_CORES};
constexpr double MIN_RUN_SECONDS = 0.5; // --confirm and --idle
constexpr double MAX_MEMORY_GB = 1e6;   // --memory: far past any machine, within setrlimit's range
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
        if (plain == RT_TEST_JSON_NAMES[t]) {
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

std::vector<std::string> test_names(const std::vector<RtTestKind>& tests) {
    std::vector<std::string> names;
    for (RtTestKind test : tests) {
        names.emplace_back(RT_TEST_NAMES[test]);
    }
    return names;
}

std::vector<std::string> core_names(const std::vector<uint32_t>& choices) {
    std::vector<std::string> names;
    for (uint32_t choice : choices) {
        names.push_back(choice == ALL_CORES ? "all" : std::to_string(choice));
    }
    return names;
}

CLI::Validator test_choice() {
    std::vector<RtTestKind> all{RT_ZEM1, RT_ZEM2, RT_ZEMM};
    std::string rule = std::string(RT_TEST_NAMES[RT_ZEM1]) + ", " + RT_TEST_NAMES[RT_ZEM2] +
                       " or " + RT_TEST_NAMES[RT_ZEMM];
    return CLI::Validator(
        [rule](std::string& text) {
            uint32_t test = test_of_name(text);
            if (test == RT_TESTS) {
                return refused(rule, text);
            }
            text = std::to_string(test);
            return std::string();
        },
        "{" + listed(test_names(all), ",") + "}");
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
    uint64_t streams = 0;
    CLI::Option* buffers;
    CLI::Option* rate;
    CLI::Option* streams_option;
    CLI::Option* server;
    CLI::Option* tests;
    std::vector<std::string> plugins;  // each --plugin: URIs joined by '+'
    std::vector<std::string> settings; // each --set
    std::string preset;
    std::string input = "noise";
    bool notes = false;
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
            ->default_str("[" + listed(test_names(plan->tests), ",") + "]")
            ->type_name("T");
    realtime
        ->add_option("--cores", plan->core_choices,
                     "core counts, separated by commas: all is one thread per physical core")
        ->delimiter(',')
        ->transform(core_choice())
        ->default_str("[" + listed(core_names(plan->core_choices), ",") + "]")
        ->excludes(bound->server)
        ->type_name("C");
    bound->streams_option =
        realtime
            ->add_option("--streams", bound->streams,
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
        ->add_option("--plugin", bound->plugins,
                     "a load of LV2 plugins, run in order on one track: URI, or URI1+URI2+...; "
                     "again for another load (only these run unless --tests is given)")
        ->type_name("URI");
    realtime
        ->add_option("--set", bound->settings,
                     "a control port of every plugin that has it (SYMBOL=VALUE), or of the "
                     "K-th plugin of a chain (K:SYMBOL=VALUE): a decimal number, a scale "
                     "point's label, or on/off")
        ->type_name("SETTING");
    realtime->add_option("--preset", bound->preset, "load this preset into the plugin it is for")
        ->type_name("URI");
    realtime
        ->add_option("--input", bound->input,
                     "what the plugins hear: seeded pink noise at -18 dBFS, a sine, or silence")
        ->check(CLI::IsMember({"noise", "sine", "silence"}))
        ->capture_default_str()
        ->type_name("SIGNAL");
    realtime->add_flag("--notes", bound->notes,
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

// A list names each value once and holds at most `most`: a plan is refused,
// never cut.
bool list_fits(const char* option, const std::vector<std::string>& names, uint32_t most,
               const char* what, std::string* problem) {
    for (auto name = names.begin(); name != names.end(); ++name) {
        if (std::find(names.begin(), name, *name) != name) {
            *problem = std::string(option) + " names " + echoed(*name) + " twice";
            return false;
        }
    }
    if (names.size() > most) {
        *problem = std::string(option) + " takes at most " + std::to_string(most) + " " + what +
                   ", not " + std::to_string(names.size());
        return false;
    }
    return true;
}

// A fixed count must fit the streams' memory at every buffer size it runs
// at (inside a server without --buffers, the size is known only there); the
// problem names the tightest fit.
bool streams_fit(uint64_t streams, const RtPlan* plan, const std::vector<uint32_t>& frames,
                 std::string* problem) {
    uint64_t most = NO_LIMIT;
    std::string where;
    for (RtTestKind test : plan->tests) {
        for (uint32_t size : frames) {
            if (streams_within_memory(test, size) < most) {
                most = streams_within_memory(test, size);
                where = std::string(RT_TEST_NAMES[test]) + " at " + std::to_string(size);
            }
        }
    }
    if (streams > most) {
        *problem = "--streams " + std::to_string(streams) + " is more than memory allows for " +
                   where + " samples (at most " + std::to_string(most) + ")";
        return false;
    }
    return true;
}

// Each --plugin a load: its chain split at '+', the settings, the preset
// and the input; the plan's tests first. At most MAX_LOADS in all.
bool plugin_loads_fit(const Bound* bound, RtPlan* plan, std::string* problem) {
    plan->loads.clear();
    plan_set_test_loads(plan);
    if (plan->tests.size() + bound->plugins.size() > MAX_LOADS) {
        *problem = "at most " + std::to_string(MAX_LOADS) + " loads, tests and --plugin together";
        return false;
    }
    if (bound->plugins.empty() &&
        (!bound->settings.empty() || !bound->preset.empty() || bound->notes)) {
        *problem = "--set, --preset and --notes need a --plugin";
        return false;
    }
    uint32_t input = 0;
    while (input < 2 && bound->input != PLUGIN_INPUT_NAMES[input]) {
        ++input;
    }
    for (size_t p = 0; p < bound->plugins.size(); ++p) {
        RtLoad load{};
        load.kind = RT_PLUGINS;
        load.key = "plugins" + std::to_string(p + 1);
        std::string chain = bound->plugins[p];
        for (size_t start = 0; start <= chain.size();) {
            const size_t end = std::min(chain.find('+', start), chain.size());
            load.order.uris.push_back(chain.substr(start, end - start));
            start = end + 1;
        }
        for (const std::string& uri : load.order.uris) {
            if (uri.empty()) {
                *problem = "--plugin " + echoed(chain) + " names an empty URI";
                return false;
            }
        }
        if (load.order.uris.size() > PLUGIN_MAX_CHAIN) {
            *problem = "--plugin takes at most " + std::to_string(PLUGIN_MAX_CHAIN) +
                       " plugins in a chain";
            return false;
        }
        load.name = chain; // the plugins' own names once the host has read them
        load.order.settings = bound->settings;
        load.order.preset = bound->preset;
        load.order.input = static_cast<PluginInput>(input);
        load.order.notes_to_any_midi = bound->notes;
        plan->loads.push_back(load);
    }
    if (plan->loads.empty()) {
        *problem = "--tests names no test and no --plugin is given";
        return false;
    }
    return true;
}

// The realtime plan's rules across options.
bool realtime_fits(const Bound* bound, CliOptions* options, std::string* problem) {
    RtPlan* plan = &options->plan;
    std::vector<std::string> buffers;
    for (uint32_t size : plan->buffers) {
        buffers.push_back(std::to_string(size));
    }
    if (!list_fits("--buffers", buffers, MAX_BUFFERS, "sizes", problem) ||
        !list_fits("--tests", test_names(plan->tests), RT_TESTS, "tests", problem) ||
        !list_fits("--cores", core_names(plan->core_choices), MAX_CORE_CHOICES, "core counts",
                   problem)) {
        return false;
    }
    if (!bound->plugins.empty() && bound->tests->count() == 0) {
        plan->tests.clear(); // plugin loads alone, unless tests are asked for too
    }
    std::sort(plan->tests.begin(), plan->tests.end());
    if (!plugin_loads_fit(bound, plan, problem)) {
        return false;
    }
    std::vector<uint32_t> frames = plan->buffers;
    if (!options->server.empty()) {
        // Inside a server the buffer size and the rate are the server's:
        // --buffers and --rate only name what it must be running.
        if (bound->buffers->count() > 0 && plan->buffers.size() != 1) {
            *problem = "with --server jack the buffer size is the server's: give at most one "
                       "--buffers, the size it must be running";
            return false;
        }
        options->expect_frames = bound->buffers->count() > 0 ? plan->buffers[0] : 0;
        options->expect_rate = bound->rate->count() > 0 ? plan->rate : 0;
        frames = bound->buffers->count() > 0 ? plan->buffers : std::vector<uint32_t>{};
    }
    if (bound->streams_option->count() > 0) {
        if (!streams_fit(bound->streams, plan, frames, problem)) {
            return false;
        }
        plan->fixed_streams = static_cast<uint32_t>(bound->streams);
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
    options->plan.buffers = DEFAULT_BUFFERS;
    options->plan.tests = {RT_ZEM1, RT_ZEM2, RT_ZEMM};
    plan_set_test_loads(&options->plan);
    options->plan.core_choices = DEFAULT_CORES;

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
        return realtime_fits(&bound, options, problem);
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
