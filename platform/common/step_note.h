// The one-line report of a real-time set-up step, shared by the backends.
#pragma once

#include "platform/platform_realtime.h"

#include <cstdint>

// Sets step->done and writes the formatted line into step->note (cut to its
// size).
__attribute__((format(gnu_printf, 3, 4))) void rt_note(RtStep* step, int32_t done,
                                                       const char* format, ...);
