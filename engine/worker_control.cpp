#include "engine/worker_control.h"

#include "engine/measure_state.h"
#include "engine/workers.h"

constexpr ScheduledTest RUN_SCHEDULE[SCHEDULED_TESTS] = {
    {TEST_NAMES[0], int_filter_worker, 1},
    {TEST_NAMES[1], float_filter_worker, 1},
    {TEST_NAMES[2], mix_worker, 2},
};

namespace {
constexpr uint32_t slot_units_in_schedule() {
    uint32_t units = 0;
    for (const ScheduledTest& test : RUN_SCHEDULE) {
        units += test.slot_units;
    }
    return units;
}
} // namespace

// The run's length and the desktop's ticks are counted from RUN_SLOT_UNITS.
static_assert(RUN_SLOT_UNITS == slot_units_in_schedule(), "RUN_SLOT_UNITS is not the slots' sum");

PlatformThread* worker_start(WorkerEntry entry) {
    measure_state.running.store(1);
    return platform_thread_start(entry);
}

void worker_stop(PlatformThread* worker) {
    measure_state.running.store(0);
    if (worker != nullptr) {
        platform_thread_wait(worker);
        platform_thread_close(worker);
    }
}
