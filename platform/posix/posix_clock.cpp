// CLOCK_MONOTONIC read in nanoseconds, for every Linux backend.
#include "platform/posix/posix_clock.h"

#include <time.h>

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * NS_PER_SECOND + now.tv_nsec;
}
