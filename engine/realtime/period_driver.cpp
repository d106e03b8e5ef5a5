#include "engine/realtime/period_driver.h"

#include <cstdarg>
#include <cstdio>

bool driver_open(PeriodDriver* driver, const DriverSetup* setup) {
    driver->failure = DriverFailure{};
    driver->stop_signal = 0;
    driver->cpu_ns = 0;
    driver_set_streams(driver, nullptr);
    return driver->ops->open(driver, setup);
}

void driver_close(PeriodDriver* driver) {
    driver->ops->close(driver);
}

bool driver_trial(void* context, const TrialRequest* request, TrialOutcome* outcome) {
    auto* driver = static_cast<PeriodDriver*>(context);
    driver->stop_signal = 0;
    driver->cpu_ns = 0;
    return driver->ops->trial(driver, request, outcome);
}

void driver_set_streams(PeriodDriver* driver, StreamSet* sets) {
    for (uint32_t t = 0; t < MAX_RT_THREADS; ++t) {
        driver->sets[t] = sets != nullptr && t < driver->threads ? &sets[t] : nullptr;
    }
}

void driver_fail(PeriodDriver* driver, const char* format, ...) {
    driver->failure.failed = true;
    va_list args;
    va_start(args, format);
    std::vsnprintf(driver->failure.text, sizeof driver->failure.text, format, args);
    va_end(args);
}
