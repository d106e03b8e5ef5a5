#include "cli/session_options.h"

#include "cli/option_checks.h"
#include "engine/realtime/realtime_plan.h"

namespace {
const char* const SESSION_DESCRIPTION =
    "Whether a DAW session plays here, at each buffer size: its routes run as the\n"
    "DAW runs them (a bus after the routes that feed it, the master last, on one\n"
    "real-time thread a core), held for --confirm seconds, every missed period\n"
    "counted against the idle system's. The session is an Ardour session\n"
    "(.ardour) or our own JSON session file (docs/sessions.md).";
} // namespace

CLI::App* add_session(CLI::App* app, CliOptions* options) {
    CLI::App* session = app->add_subcommand("session", SESSION_DESCRIPTION);
    SessionAsk* ask = &options->session;
    session->add_option("file", ask->path, "the session: FILE.ardour, or our JSON")
        ->required()
        ->type_name("FILE");
    session
        ->add_option("--buffers", ask->buffers,
                     "buffer sizes, samples per period, separated by commas")
        ->delimiter(',')
        ->transform(whole(MIN_BUFFER, MAX_BUFFER))
        ->capture_default_str()
        ->type_name("B");
    session
        ->add_option("--cores", ask->cores,
                     "threads that run the routes, one a physical core (default: all)")
        ->transform(whole(1, MAX_RT_THREADS))
        ->type_name("N");
    session
        ->add_option("--confirm", ask->hold_seconds,
                     "length of the hold at each size in seconds, and of the idle run before it")
        ->check(decimal(MIN_RUN_SECONDS, MAX_SECONDS, false, "a number of seconds"))
        ->capture_default_str()
        ->type_name("S");
    session
        ->add_option("--save-session", ask->save_path,
                     "write the session as our JSON session file, and run nothing")
        ->type_name("FILE");
    session->add_flag("--json", options->json, "one JSON document instead of the text");
    session
        ->add_option("--svg", options->svg_path,
                     "also draw each size's verdict, periods and routes' times in this SVG file")
        ->type_name("FILE");
    return session;
}
