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

RtLoad test_load(RtTestKind test) {
    RtLoad load{};
    load.kind = test;
    load.name = RT_TEST_NAMES[test];
    load.key = RT_TEST_JSON_NAMES[test];
    return load;
}

void plan_set_test_loads(RtPlan* plan) {
    std::vector<RtLoad> loads;
    for (RtTestKind test : plan->tests) {
        loads.push_back(test_load(test));
    }
    for (const RtLoad& load : plan->loads) {
        if (load.kind == RT_PLUGINS) {
            loads.push_back(load);
        }
    }
    plan->loads = loads;
}
