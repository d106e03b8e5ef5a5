// The `realtime` subcommand: runs the plan, then prints its report (text or
// JSON) and writes the picture.
#pragma once

#include "cli/options.h"

// Returns the program's exit status: 0, 1 when the picture could not be
// written or the run could not go on, 2 for a core count the machine lacks,
// 128 + the signal that stopped it.
int run_realtime_command(const CliOptions* options);
