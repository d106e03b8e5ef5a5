#include "engine/realtime/load_checks.h"

#include "engine/realtime/plugin_cost.h"
#include "platform/common/echoed.h"

#include <string>
#include <vector>

namespace {
// Validation runs each chain in a child process for this many blocks (the
// first second or so at 256 samples).
constexpr uint32_t VALIDATION_BLOCKS = 200;

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

namespace {
// Its wiring and what it hears, as the validation's child opened it.
void keep_wiring(const PluginValidation* validation, const std::vector<std::string>& names,
                 RtLoad* load) {
    load->wiring = validation->wiring;
    load->heard = validation->input;
    for (size_t p = 0; p < validation->plugins.size() && p < names.size(); ++p) {
        if (validation->plugins[p].gets_notes) {
            load->heard +=
                "; " + names[p] + " gets a fixed pattern of notes through its MIDI input";
        }
    }
}
} // namespace

bool check_plugin_loads(PluginHost* host, RtPlan* plan, ValidationWords words,
                        int (*stop_wait)(int64_t timeout_ms)) {
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
        options.timeout_ms = STAGE_OPEN_MS;
        options.stop_wait = stop_wait;
        PluginValidation validation;
        plugin_validate(host, &order, &options, &validation);
        if (validation.stop_signal != 0) {
            break; // the run stops before any trial; no word on what was cut short
        }
        load.log = validation.output;
        const PluginVerdict verdict = plugin_verdict(&validation);
        if (verdict == PLUGIN_FAILED) {
            load.failed = true;
            load.failure = words(names, &validation);
            all_fine = false;
        } else {
            load.flags = verdict == PLUGIN_FLAGGED ? words(names, &validation) : "";
            keep_wiring(&validation, names, &load);
        }
    }
    return all_fine;
}
