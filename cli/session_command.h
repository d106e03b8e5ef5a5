// The `session` subcommand: a DAW session read, then held at each buffer
// size as its DAW would run it, and reported.
#pragma once

#include "cli/options.h"

// The exit status: 0 when every size was held (whether it played or not),
// 1 when the session could not be run (a route's plugins failed to open,
// a file could not be written), 2 when the file is not a session we take,
// 128 + the signal after a stop.
int run_session_command(const CliOptions* options);
