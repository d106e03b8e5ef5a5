#include "engine/realtime/realtime_plan.h"

#include "platform/common/echoed.h"

#include <algorithm>
#include <limits>

namespace {
// The mix's streams share the tracks: only the run's own limits bound them.
constexpr uint64_t SHARED_STREAMS_CEILING = uint64_t{1} << 24;

// The default plan's lists, as the README gives them: 64 to 1024 samples,
// one core and all; docs/measurements.md says how long such a run takes.
const std::vector<uint32_t> DEFAULT_BUFFERS{64, 128, 256, 512, 1024};
const std::vector<uint32_t> DEFAULT_CORES{1, ALL_CORES};
constexpr uint64_t NO_LIMIT = std::numeric_limits<uint64_t>::max();

// A list names each value once and holds at most `most`: a plan is refused,
// never cut.
bool list_within_limits(const char* option, const std::vector<std::string>& names, uint32_t most,
                        const char* what, std::string* problem) {
    for (auto name = names.begin(); name != names.end(); ++name) {
        if (std::find(names.begin(), name, *name) != name) {
            *problem = std::string(option) + " names " + echoed(*name) + " twice";
            return false;
        }
    }
    if (names.size() > most) {
        *problem = std::string(option) + " takes at most " + std::to_string(most) + " " + what +
                   ", not " + std::to_string(names.size());
        return false;
    }
    return true;
}

// A fixed count must fit the streams' memory at every buffer size it runs
// at (inside a server without --buffers, the size is known only there); the
// problem names the tightest fit.
bool streams_fit(uint64_t streams, const RtPlan* plan, const std::vector<uint32_t>& frames,
                 std::string* problem) {
    uint64_t most = NO_LIMIT;
    std::string where;
    for (RtTestKind test : plan->tests) {
        for (uint32_t size : frames) {
            if (streams_within_memory(test, size) < most) {
                most = streams_within_memory(test, size);
                where = std::string(TEST_NAMES[test]) + " at " + std::to_string(size);
            }
        }
    }
    if (streams > most) {
        *problem = "--streams " + std::to_string(streams) + " is more than memory allows for " +
                   where + " samples (at most " + std::to_string(most) + ")";
        return false;
    }
    return true;
}

// Each --plugin a load: its chain split at '+', the settings, the preset
// and the input; the plan's tests first. At most MAX_LOADS in all.
bool set_plugin_loads(const RtPlanAsk* ask, RtPlan* plan, std::string* problem) {
    plan->loads.clear();
    plan_set_test_loads(plan);
    if (plan->tests.size() + ask->plugins.size() > MAX_LOADS) {
        *problem = "at most " + std::to_string(MAX_LOADS) + " loads, tests and --plugin together";
        return false;
    }
    if (ask->plugins.empty() && (!ask->settings.empty() || !ask->preset.empty() || ask->notes)) {
        *problem = "--set, --preset and --notes need a --plugin";
        return false;
    }
    uint32_t input = 0;
    while (input + 1 < PLUGIN_INPUTS && ask->input != PLUGIN_INPUT_NAMES[input]) {
        ++input;
    }
    for (size_t p = 0; p < ask->plugins.size(); ++p) {
        RtLoad load{};
        load.kind = RT_PLUGINS;
        load.key = "plugins" + std::to_string(p + 1);
        std::string chain = ask->plugins[p];
        for (size_t start = 0; start <= chain.size();) {
            const size_t end = std::min(chain.find('+', start), chain.size());
            load.order.uris.push_back(chain.substr(start, end - start));
            start = end + 1;
        }
        for (const std::string& uri : load.order.uris) {
            if (uri.empty()) {
                *problem = "--plugin " + echoed(chain) + " names an empty URI";
                return false;
            }
        }
        if (load.order.uris.size() > PLUGIN_MAX_CHAIN) {
            *problem = "--plugin takes at most " + std::to_string(PLUGIN_MAX_CHAIN) +
                       " plugins in a chain";
            return false;
        }
        load.name = chain; // the plugins' own names once the host has read them
        load.order.settings = ask->settings;
        load.order.preset = ask->preset;
        load.order.input = static_cast<PluginInput>(input);
        load.order.notes_to_any_midi = ask->notes;
        plan->loads.push_back(load);
    }
    if (plan->loads.empty()) {
        *problem = "--tests names no test and no --plugin is given";
        return false;
    }
    return true;
}
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
    load.name = TEST_NAMES[test];
    load.key = TEST_JSON_NAMES[test];
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

void plan_set_defaults(RtPlan* plan) {
    plan->buffers = DEFAULT_BUFFERS;
    plan->tests = {RT_ZEM1, RT_ZEM2, RT_ZEMM};
    plan_set_test_loads(plan);
    plan->core_choices = DEFAULT_CORES;
}

std::vector<std::string> plan_test_names(const std::vector<RtTestKind>& tests) {
    std::vector<std::string> names;
    for (RtTestKind test : tests) {
        names.emplace_back(TEST_NAMES[test]);
    }
    return names;
}

std::vector<std::string> plan_core_names(const std::vector<uint32_t>& choices) {
    std::vector<std::string> names;
    for (uint32_t choice : choices) {
        names.push_back(choice == ALL_CORES ? "all" : std::to_string(choice));
    }
    return names;
}

bool plan_resolve(const RtPlanAsk* ask, RtPlan* plan, std::string* problem) {
    std::vector<std::string> buffers;
    for (uint32_t size : plan->buffers) {
        buffers.push_back(std::to_string(size));
    }
    if (!list_within_limits("--buffers", buffers, MAX_BUFFERS, "sizes", problem) ||
        !list_within_limits("--tests", plan_test_names(plan->tests), RT_TESTS, "tests", problem) ||
        !list_within_limits("--cores", plan_core_names(plan->core_choices), MAX_CORE_CHOICES,
                            "core counts", problem)) {
        return false;
    }
    if (!ask->plugins.empty() && !ask->tests_given) {
        plan->tests.clear(); // plugin loads alone, unless tests are asked for too
    }
    std::sort(plan->tests.begin(), plan->tests.end());
    if (!set_plugin_loads(ask, plan, problem)) {
        return false;
    }
    std::vector<uint32_t> frames = plan->buffers;
    if (ask->in_server) {
        // Inside a server the buffer size and the rate are the server's:
        // --buffers and --rate only name what it must be running.
        if (ask->buffers_given && plan->buffers.size() != 1) {
            *problem = "with --server jack the buffer size is the server's: give at most one "
                       "--buffers, the size it must be running";
            return false;
        }
        frames = ask->buffers_given ? plan->buffers : std::vector<uint32_t>{};
    }
    if (ask->streams > 0) {
        if (!streams_fit(ask->streams, plan, frames, problem)) {
            return false;
        }
        plan->fixed_streams = static_cast<uint32_t>(ask->streams);
    }
    return true;
}
