// A load's plugin states: the default states and the preset read from the
// world, restored into each instance before it is activated, and freed once
// every instance has them.
#include "platform/common/echoed.h"
#include "platform/lv2/lv2_load.h"

namespace {
struct RestoreTarget {
    const StepPlan* step;
    StageInstance* stage;
    UridMap* urids;
};

void set_port_value(const char* symbol, void* user, const void* value, uint32_t size,
                    uint32_t type) {
    auto* target = static_cast<RestoreTarget*>(user);
    UridMap* urids = target->urids;
    double number = 0.0;
    if (type == urid_of(urids, LV2_ATOM__Float) && size == sizeof(float)) {
        number = *static_cast<const float*>(value);
    } else if (type == urid_of(urids, LV2_ATOM__Double) && size == sizeof(double)) {
        number = *static_cast<const double*>(value);
    } else if ((type == urid_of(urids, LV2_ATOM__Int) || type == urid_of(urids, LV2_ATOM__Bool)) &&
               size == sizeof(int32_t)) {
        number = *static_cast<const int32_t*>(value);
    } else if (type == urid_of(urids, LV2_ATOM__Long) && size == sizeof(int64_t)) {
        number = static_cast<double>(*static_cast<const int64_t*>(value));
    } else {
        return;
    }
    const std::vector<PortPlan>& ports = target->step->ports;
    for (size_t p = 0; p < ports.size(); ++p) {
        if (ports[p].kind == PORT_CONTROL && ports[p].symbol == symbol) {
            target->stage->controls[p] = static_cast<float>(number);
        }
    }
}
} // namespace

bool plan_states(PluginLoad* load, const PluginLoadOrder* order, PluginLoadFacts* facts,
                 std::string* error) {
    PluginHost* host = load->host;
    for (StepPlan& step : load->plan) {
        if (lilv_plugin_has_feature(step.plugin, host->nodes.default_state)) {
            step.default_state = lilv_state_new_from_world(host->world, &host->urids.map,
                                                           lilv_plugin_get_uri(step.plugin));
            facts->notes.push_back(step.facts.name + ": " +
                                   (step.default_state != nullptr ? "default state loaded"
                                                                  : "no default state found"));
        }
    }
    if (order->preset.empty()) {
        return true;
    }
    std::vector<uint32_t> steps;
    if (!preset_steps(host, load->plan, order->preset, &steps, error)) {
        return false;
    }
    LilvNode* preset = lilv_new_uri(host->world, order->preset.c_str());
    lilv_world_load_resource(host->world, preset);
    for (uint32_t s : steps) {
        StepPlan& step = load->plan[s];
        step.preset = lilv_state_new_from_world(host->world, &host->urids.map, preset);
        if (step.preset == nullptr) {
            *error =
                "preset " + echoed(order->preset) + " of " + step.facts.name + " could not be read";
            lilv_node_free(preset);
            return false;
        }
        facts->notes.push_back(step.facts.name + ": preset " + order->preset + " loaded");
    }
    lilv_node_free(preset);
    return true;
}

void free_states(PluginLoad* load) {
    for (StepPlan& step : load->plan) {
        lilv_state_free(step.default_state);
        lilv_state_free(step.preset);
        step.default_state = nullptr;
        step.preset = nullptr;
    }
}

void restore_stage(PluginLoad* load, uint32_t s, StageInstance* stage,
                   const LV2_Feature* const* features) {
    const StepPlan& step = load->plan[s];
    RestoreTarget target{&step, stage, &load->host->urids};
    for (LilvState* state : {step.default_state, step.preset}) {
        if (state != nullptr) {
            lilv_state_restore(state, stage->instance, set_port_value, &target, 0, features);
        }
    }
    for (const Setting& setting : load->settings) {
        if (setting.step == s) {
            stage->controls[setting.port] = setting.value;
        }
    }
}
