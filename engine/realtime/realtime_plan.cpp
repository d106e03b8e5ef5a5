#include "engine/realtime/realtime_plan.h"

namespace {
// The mix's streams share the tracks: only the run's own limits bound them.
constexpr uint64_t SHARED_STREAMS_CEILING = uint64_t{1} << 24;
} // namespace

uint64_t streams_within_memory(RtTestKind test, uint32_t frames) {
    uint64_t bytes = stream_bytes(test, frames);
    return bytes == 0 ? SHARED_STREAMS_CEILING : STREAM_MEMORY_CAP / bytes;
}

bool plan_has_test(const RtPlan* plan, RtTestKind test) {
    for (RtTestKind planned : plan->tests) {
        if (planned == test) {
            return true;
        }
    }
    return false;
}
