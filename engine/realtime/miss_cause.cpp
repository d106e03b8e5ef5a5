#include "engine/realtime/miss_cause.h"

const char* const MISS_CAUSE_NAMES[MISS_CAUSES] = {"work", "late_wakeup", "preempted", "throttled",
                                                   "unknown"};
const char* const PREEMPT_SOURCE_NAMES[PREEMPT_SOURCES] = {"thread", "interrupts", "hypervisor",
                                                           "unsaid"};
