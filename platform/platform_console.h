// Operations the console runner needs from the operating system.
//
// Contract:
//   console_block_stop_signals  blocks SIGINT and SIGTERM (or the console's
//                               break events) for this thread and every thread
//                               started after it, so that they are only
//                               collected by console_wait_for_stop.
//   console_watch_stops         from then on a thread of its own collects
//                               the stop; when no console_wait_for_stop has
//                               taken it within `grace_ms` (the run is stuck
//                               in code that does not return), it says so on
//                               standard error and ends the program with
//                               128 + the signal. Forked children collect
//                               their own signals as before.
//   console_wait_for_stop       waits up to timeout_ms for a stop request;
//                               returns the signal number, or 0 on time-out.
//                               Once one came, it returns it at once ever after.
//   console_stderr_is_terminal  whether standard error is a terminal.
#pragma once

#include <cstdint>

constexpr int CONSOLE_SIGINT = 2;
constexpr int CONSOLE_SIGTERM = 15;

void console_block_stop_signals();
void console_watch_stops(int64_t grace_ms);
int console_wait_for_stop(int64_t timeout_ms);
bool console_stderr_is_terminal();
