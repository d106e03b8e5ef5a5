// The contract between a real-time run and whatever drives its periods: our
// own clock (clock_driver.h) or an audio server's process cycle
// (server_driver.h). The run, the search and the reports know only this.
//
// A driver is opened once per buffer size and core count, runs any number
// of trials there (each with the streams the run gave it), and is closed.
// After every trial it leaves, the same way for every driver: the first
// measuring thread's set-up steps, the processor time the trial used, the
// stop signal that cut it short and why it could not go on.
#pragma once

#include "engine/realtime/capacity_search.h"
#include "engine/realtime/realtime_plan.h"
#include "platform/platform_realtime.h"

#include <cstdint>

// Waits up to timeout_ms for a stop request; its signal number, or 0.
using StopWait = int (*)(int64_t timeout_ms);

// Set-up steps of one measuring thread.
struct ThreadSteps {
    RtStep pin;
    RtStep priority;
    RtStep slack;
    RtStep denormals;
    RtStep timer;
};

constexpr uint32_t DRIVER_TEXT = 256;

// Why a driver cannot go on; one record for every driver.
struct DriverFailure {
    bool failed;
    char text[DRIVER_TEXT]; // one line
};

// One buffer size and core count.
struct DriverSetup {
    uint32_t frames;
    uint32_t rate;
    uint32_t threads;                    // asked for; a server's driver runs its one thread
    uint32_t processors[MAX_RT_THREADS]; // each thread's logical processor
    uint64_t max_periods;                // the longest trial to come
    uint32_t observer_processor;         // a core no thread measures on; NO_PROCESSOR: none
};

struct PeriodDriver;

struct PeriodDriverOps {
    // Prepares trials for `setup`; false with `failure` set.
    bool (*open)(PeriodDriver* driver, const DriverSetup* setup);
    void (*close)(PeriodDriver* driver);
    // Runs request->streams streams split over the threads, each thread's
    // from sets[]; false when a stop came (stop_signal) or the driver cannot
    // go on (failure). The outcome holds what ran.
    bool (*trial)(PeriodDriver* driver, const TrialRequest* request, TrialOutcome* outcome);
};

struct PeriodDriver {
    const PeriodDriverOps* ops;
    void* backend; // the implementation's own record
    RtClockKind kind;
    StopWait wait_for_stop;
    uint32_t threads;                // measuring threads, known once open
    StreamSet* sets[MAX_RT_THREADS]; // each thread's streams; nullptr: the idle system
    // Left by the last trial:
    ThreadSteps steps; // of the first measuring thread
    int64_t cpu_ns;    // processor time of every thread over the periods; 0: not counted
    int stop_signal;   // 0 when none
    DriverFailure failure;
};

bool driver_open(PeriodDriver* driver, const DriverSetup* setup);
void driver_close(PeriodDriver* driver);
// The search's TrialFunction for any driver.
bool driver_trial(void* driver, const TrialRequest* request, TrialOutcome* outcome);
// The streams of each thread from sets[t], or none.
void driver_set_streams(PeriodDriver* driver, StreamSet* sets);

__attribute__((format(printf, 2, 3))) void driver_fail(PeriodDriver* driver, const char* format,
                                                       ...);
