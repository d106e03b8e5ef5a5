#include "sequencer/schedule_run.h"

namespace {
// Lets the running test go on for slot_ms; returns the stop signal that cut
// it short, or 0.
int wait_slot(const ScheduleHost* host, const char* name, int64_t slot_ms) {
    const int64_t start = host->now_ms();
    for (;;) {
        const int64_t done = host->now_ms() - start;
        if (done >= slot_ms) {
            return 0;
        }
        int64_t wait = slot_ms - done;
        if (host->show_progress != nullptr) {
            host->show_progress(name, done, slot_ms);
            wait = wait > host->progress_every_ms ? host->progress_every_ms : wait;
        }
        const int signal_number = host->wait_for_stop(wait);
        if (signal_number != 0) {
            return signal_number;
        }
    }
}
} // namespace

const ScheduledTest* test_starting_at(uint32_t unit) {
    uint32_t slot_start = 0;
    for (const ScheduledTest& test : RUN_SCHEDULE) {
        if (slot_start == unit) {
            return &test;
        }
        slot_start += test.slot_units;
    }
    return nullptr;
}

int run_schedule(const ScheduleHost* host, int64_t unit_ms, bool whole[SCHEDULED_TESTS]) {
    int signal_number = 0;
    for (uint32_t t = 0; t < SCHEDULED_TESTS; ++t) {
        whole[t] = false;
    }
    for (uint32_t t = 0; t < SCHEDULED_TESTS && signal_number == 0; ++t) {
        const ScheduledTest* test = &RUN_SCHEDULE[t];
        const int64_t slot_ms = unit_ms * test->slot_units;
        PlatformThread* worker = worker_start(test->entry);
        signal_number = wait_slot(host, test->name, slot_ms);
        worker_stop(worker);
        whole[t] = worker != nullptr && signal_number == 0;
        if (host->show_progress != nullptr) {
            host->show_progress(test->name, slot_ms, slot_ms);
        }
    }
    return signal_number;
}
