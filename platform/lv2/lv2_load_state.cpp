// A load's plugin states: the default states and the preset read from the
// world, and the states a host saved, restored into each instance before it
// is activated and freed once every instance has them.
#include "platform/common/echoed.h"
#include "platform/lv2/lv2_load.h"

namespace {
struct RestoreTarget {
    const LinkPlan* link;
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
    const std::vector<PortPlan>& ports = target->link->ports;
    for (size_t p = 0; p < ports.size(); ++p) {
        if (ports[p].kind == PORT_CONTROL && ports[p].symbol == symbol) {
            target->stage->controls[p] = static_cast<float>(number);
        }
    }
}

bool load_saved_states(PluginLoad* load, const PluginLoadOrder* order, PluginLoadFacts* facts,
                       std::string* error) {
    PluginHost* host = load->host;
    for (size_t s = 0; s < load->plan.size() && s < order->saved_states.size(); ++s) {
        if (order->saved_states[s].empty()) {
            continue;
        }
        LinkPlan& link = load->plan[s];
        const std::string file = order->saved_states[s] + "/state.ttl";
        link.saved = lilv_state_new_from_file(host->world, &host->urids.map, nullptr, file.c_str());
        if (link.saved == nullptr) {
            *error = "the saved state of " + link.facts.name + " (" + echoed(file) +
                     ") could not be read";
            return false;
        }
        facts->notes.push_back(link.facts.name + ": saved state " + order->saved_states[s] +
                               " loaded");
    }
    return true;
}
} // namespace

bool plan_states(PluginLoad* load, const PluginLoadOrder* order, PluginLoadFacts* facts,
                 std::string* error) {
    PluginHost* host = load->host;
    for (LinkPlan& link : load->plan) {
        if (lilv_plugin_has_feature(link.plugin, host->nodes.default_state)) {
            link.default_state = lilv_state_new_from_world(host->world, &host->urids.map,
                                                           lilv_plugin_get_uri(link.plugin));
            facts->notes.push_back(link.facts.name + ": " +
                                   (link.default_state != nullptr ? "default state loaded"
                                                                  : "no default state found"));
        }
    }
    if (!load_saved_states(load, order, facts, error)) {
        return false;
    }
    if (order->preset.empty()) {
        return true;
    }
    std::vector<uint32_t> links;
    if (!preset_links(host, load->plan, order->preset, &links, error)) {
        return false;
    }
    LilvNode* preset = lilv_new_uri(host->world, order->preset.c_str());
    lilv_world_load_resource(host->world, preset);
    for (uint32_t s : links) {
        LinkPlan& link = load->plan[s];
        link.preset = lilv_state_new_from_world(host->world, &host->urids.map, preset);
        if (link.preset == nullptr) {
            *error =
                "preset " + echoed(order->preset) + " of " + link.facts.name + " could not be read";
            lilv_node_free(preset);
            return false;
        }
        facts->notes.push_back(link.facts.name + ": preset " + order->preset + " loaded");
    }
    lilv_node_free(preset);
    return true;
}

void free_states(PluginLoad* load) {
    for (LinkPlan& link : load->plan) {
        lilv_state_free(link.default_state);
        lilv_state_free(link.preset);
        lilv_state_free(link.saved);
        link.default_state = nullptr;
        link.preset = nullptr;
        link.saved = nullptr;
    }
}

void restore_stage(PluginLoad* load, uint32_t s, StageInstance* stage,
                   const LV2_Feature* const* features) {
    const LinkPlan& link = load->plan[s];
    RestoreTarget target{&link, stage, &load->host->urids};
    for (LilvState* state : {link.default_state, link.preset, link.saved}) {
        if (state != nullptr) {
            lilv_state_restore(state, stage->instance, set_port_value, &target, 0, features);
        }
    }
    for (const Setting& setting : load->settings) {
        if (setting.link == s) {
            stage->controls[setting.port] = setting.value;
        }
    }
}
