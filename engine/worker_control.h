// Starting and stopping a measurement worker, the same way for every host
// (the desktop program's tick and the console runner), and the schedule of
// a whole run.
#pragma once

#include "engine/test_names.h"
#include "platform/platform_engine.h"

#include <cstdint>

// Sets the run flag and starts `entry` on a thread of its own. Returns the
// thread, or nullptr when it could not be started (the flag then stays set:
// no worker reads it).
PlatformThread* worker_start(WorkerEntry entry);
// Clears the run flag, then waits, without a time limit, for the worker to
// end and releases its handle. A nullptr worker only clears the flag.
void worker_stop(PlatformThread* worker);

// The three tests in the order a run takes them, each given a slot of
// `slot_units` units; a run of the default length gives a unit 20 s.
struct ScheduledTest {
    const char* name;
    WorkerEntry entry;
    uint32_t slot_units;
};

constexpr uint32_t SCHEDULED_TESTS = ZEM_TESTS;
constexpr int64_t SLOT_UNIT_MS = 20000;
constexpr uint32_t RUN_SLOT_UNITS = 4; // the sum of the slots
extern const ScheduledTest RUN_SCHEDULE[SCHEDULED_TESTS];
