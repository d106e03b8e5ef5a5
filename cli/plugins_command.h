// The `plugins` subcommand: the LV2 plugins installed (LV2_PATH honoured),
// what each one is, and whether we can host it.
#pragma once

// Prints the listing as text or as one JSON document. 0, or 1 after one
// line on stderr where this build has no plugin host.
int run_plugins_command(bool json);
