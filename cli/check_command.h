// The `check` subcommand: what limits this system for real-time audio and
// what to change, from what the system says of itself (nothing is measured).
#pragma once

// Prints the machine, then the readiness items, as text or as one JSON
// document. Always 0: whatever it finds is the answer.
int run_check_command(bool json);
