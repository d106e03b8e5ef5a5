// The `check` subcommand: what limits this system for real-time audio and
// what to change, from what the system says of itself (nothing is measured).
#pragma once

// Prints the machine, then the readiness items, as text or as one JSON
// document. Returns 0 whatever it finds (that is the answer), or 1, after
// one line on stderr, when the standard output could not be written.
int run_check_command(bool json);
