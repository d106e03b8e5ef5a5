#include "engine/realtime/load_checks.h"

#include "engine/realtime/plugin_cost.h"
#include "platform/common/echoed.h"

#include <string>
#include <vector>

namespace {
// Validation runs each chain in a child process for this many blocks (the
// first second or so at 256 samples), and gives it this long.
constexpr uint32_t VALIDATION_BLOCKS = 200;
constexpr int64_t VALIDATION_TIMEOUT_MS = 20000;

// One instance at the plan's first block size and its rate.
PluginLoadOrder one_instance(const RtPlan* plan, const RtLoad* load) {
    PluginLoadOrder order = load->order;
    order.frames = plan->buffers.empty() ? 256 : plan->buffers[0];
    order.rate = plan->rate;
    order.instances = 1;
    return order;
}
} // namespace

bool resolve_plugin_loads(PluginHost* host, const RtPlan* plan, std::string* problem) {
    uint32_t chains = 0;
    for (const RtLoad& load : plan->loads) {
        chains += load.kind == RT_PLUGINS ? 1 : 0;
    }
    for (const RtLoad& load : plan->loads) {
        if (load.kind != RT_PLUGINS) {
            continue;
        }
        const PluginLoadOrder order = one_instance(plan, &load);
        if (!plugin_load_check(host, &order, problem)) {
            if (chains > 1) {
                *problem = echoed(load.name) + ": " + *problem;
            }
            return false;
        }
    }
    return true;
}

bool check_plugin_loads(PluginHost* host, RtPlan* plan, ValidationWords words) {
    bool all_fine = true;
    for (RtLoad& load : plan->loads) {
        if (load.kind != RT_PLUGINS) {
            continue;
        }
        std::vector<std::string> names;
        for (const std::string& uri : load.order.uris) {
            PluginInfo info;
            names.push_back(plugin_host_info(host, uri, &info) ? info.name : uri);
        }
        load.name.clear();
        for (const std::string& name : names) {
            load.name += (load.name.empty() ? "" : " + ") + name;
        }
        PluginLoadOrder order = one_instance(plan, &load);
        PluginValidateOptions options;
        options.blocks = VALIDATION_BLOCKS;
        options.timeout_ms = VALIDATION_TIMEOUT_MS;
        PluginValidation validation;
        plugin_validate(host, &order, &options, &validation);
        const PluginVerdict verdict = plugin_verdict(&validation);
        if (verdict == PLUGIN_FAILED) {
            load.failed = true;
            load.failure = words(names, &validation);
            all_fine = false;
        } else if (verdict == PLUGIN_FLAGGED) {
            load.flags = words(names, &validation);
        }
        if (!load.failed) {
            // It passed its child's run: one instance here tells its wiring.
            PluginLoadFacts facts;
            std::string error;
            PluginLoad* one = plugin_load_open(host, &order, &facts, &error);
            if (one != nullptr) {
                load.wiring = facts.wiring;
                load.heard = facts.input;
                for (const PluginStep& step : facts.chain) {
                    if (step.gets_notes) {
                        load.heard += "; " + step.name +
                                      " gets a fixed pattern of notes through its MIDI input";
                    }
                }
                plugin_load_close(one);
            }
        }
    }
    return all_fine;
}
