// CLOCK_MONOTONIC, and any clock's reading, in nanoseconds for every Linux
// backend.
#include "platform/posix/posix_clock.h"

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return timespec_ns(now);
}

int64_t timespec_ns(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * NS_PER_SECOND + time.tv_nsec;
}
