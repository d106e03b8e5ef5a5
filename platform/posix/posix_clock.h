// The monotonic clock every Linux backend reads, in nanoseconds: the engine's
// counter, the real-time mode's clock, a child's deadlines, the plugin
// worker and the audio server's cycles all count on the one clock, so their
// times compare.
#pragma once

#include <cstdint>
#include <time.h>

constexpr int64_t NS_PER_SECOND = 1000000000;

// CLOCK_MONOTONIC now, which a parent and its forked children read alike.
int64_t monotonic_ns();
// A clock's reading (clock_gettime's) in nanoseconds.
int64_t timespec_ns(const timespec& time);
