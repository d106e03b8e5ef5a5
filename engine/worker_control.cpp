#include "engine/worker_control.h"

#include "engine/measure_state.h"
#include "engine/workers.h"

const ScheduledTest RUN_SCHEDULE[SCHEDULED_TESTS] = {
    {"ZEM-1", int_filter_worker, 1},
    {"ZEM-2", float_filter_worker, 1},
    {"ZEM-M", mix_worker, 2},
};

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
