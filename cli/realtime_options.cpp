#include "cli/realtime_options.h"

#include "cli/option_checks.h"

namespace {
const char* const REALTIME_DESCRIPTION =
    "Real-time capacity: for each buffer size and core count, the idle system\n"
    "first, then the largest number of streams of each test that plays: run\n"
    "together every period through a hold of --confirm seconds, it missed no\n"
    "more periods, whatever their causes, than the idle system in that time.\n"
    "With --server jack the periods are those of a running JACK server (or of\n"
    "PipeWire, under pw-jack): its buffer size and rate, on its one thread.";

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
} // namespace

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
