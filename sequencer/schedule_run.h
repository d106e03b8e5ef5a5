// The schedule of a run, driven two ways: the desktop program's tick asks
// which test starts on a phase, and the console runner runs the whole
// schedule on its own thread, waiting between the starts.
#pragma once

#include "engine/worker_control.h"

#include <cstdint>

// The test whose slot begins `unit` units into a run, or nullptr.
const ScheduledTest* test_starting_at(uint32_t unit);

// What a run that blocks needs of its host: a clock, a wait that a stop
// signal ends, and somewhere to show how far the running test has come.
struct ScheduleHost {
    int64_t (*now_ms)();
    // Waits up to `ms`; returns the stop signal that ended the wait, or 0.
    int (*wait_for_stop)(int64_t ms);
    // `done_ms` of test `name`'s `slot_ms` have passed; with done_ms equal
    // to slot_ms the test's slot is over. nullptr shows nothing.
    void (*show_progress)(const char* name, int64_t done_ms, int64_t slot_ms);
    // How often show_progress is called while a test runs.
    int64_t progress_every_ms;
};

// Runs each scheduled test for `unit_ms` times its slot units, in turn,
// until a stop signal; whole[t] says whether test t ran its whole slot.
// Returns the stop signal, or 0.
int run_schedule(const ScheduleHost* host, int64_t unit_ms, bool whole[SCHEDULED_TESTS]);
