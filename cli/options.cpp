#include "cli/options.h"

#include "cli/option_checks.h"
#include "cli/realtime_options.h"
#include "cli/session_options.h"

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
    "With 'plugins': the LV2 plugins installed and whether they can be hosted.\n"
    "With 'session': whether a DAW session plays here, at each buffer size.";

const char* const CHECK_DESCRIPTION =
    "Whether this system is set up for real-time audio: each setting that\n"
    "matters, its value and what to change.";

const char* const COMPARE_DESCRIPTION =
    "Two or more reports written with --json, side by side: throughput and\n"
    "real-time reports in any mix, or session reports with each other.";

const char* const PLUGINS_DESCRIPTION =
    "The LV2 plugins installed (in LV2_PATH when it is set, the system's folders\n"
    "otherwise): name, URI, class, ports, whether each declares hardRTCapable,\n"
    "the features it requires, and whether it can be hosted or what it lacks.";

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
    compare
        ->add_option("--svg", options->svg_path,
                     "also draw the comparison in this SVG file (not of session reports)")
        ->type_name("FILE");
    CLI::App* plugins = app.add_subcommand("plugins", PLUGINS_DESCRIPTION);
    plugins->add_flag("--json", options->json, "one JSON document instead of the text");
    CLI::App* session = add_session(&app, options);
    // The throughput run's options are refused after a subcommand, not
    // taken for one of its arguments.
    for (CLI::App* subcommand : {realtime, check, compare, plugins, session}) {
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
    if (app.got_subcommand(session)) {
        options->command = CLI_SESSION;
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
