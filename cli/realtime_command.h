// The `realtime` subcommand: runs the plan, then prints its report (text or
// JSON) and writes the picture.
#pragma once

#include "cli/options.h"

// Returns the program's exit status: 0; 1 when the picture could not be
// written, the run could not go on, or the audio server could not be used
// (none running, a refused connection, another buffer size or rate than
// asked); 2 for a core count the machine lacks or a --server this build
// does not have; 128 + the signal that stopped it.
int run_realtime_command(const CliOptions* options);
