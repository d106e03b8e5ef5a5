// A load's plan: the chain's plugins looked up in the world, their ports,
// and the settings checked against the ports, before anything is
// instantiated.
#include "platform/common/echoed.h"
#include "platform/lv2/lv2_internal.h"

#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {
// Room for a period's notes and a plugin's usual messages; a port that asks
// for more (rsz:minimumSize) gets what it asks.
constexpr uint32_t DEFAULT_SEQUENCE_BYTES = 8192;

double value_or(double value, double otherwise) {
    return std::isnan(value) ? otherwise : value;
}

// A control port's declared range, properties and scale points.
ControlPort declared_control(PluginHost* host, const LilvPlugin* plugin, const LilvPort* port,
                             float minimum, float maximum, float default_value) {
    const HostNodes& n = host->nodes;
    ControlPort control;
    control.minimum = minimum;
    control.maximum = maximum;
    control.default_value = default_value;
    control.sample_rate = lilv_port_has_property(plugin, port, n.sample_rate);
    control.integer = lilv_port_has_property(plugin, port, n.integer);
    control.toggled = lilv_port_has_property(plugin, port, n.toggled);
    control.enumeration = lilv_port_has_property(plugin, port, n.enumeration);
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    if (points == nullptr) {
        return control;
    }
    LILV_FOREACH(scale_points, i, points) {
        const LilvScalePoint* point = lilv_scale_points_get(points, i);
        const LilvNode* label = lilv_scale_point_get_label(point);
        const LilvNode* value = lilv_scale_point_get_value(point);
        if (label != nullptr && (lilv_node_is_float(value) || lilv_node_is_int(value))) {
            control.points.push_back(
                ControlPoint{lilv_node_as_string(label), lilv_node_as_float(value)});
        }
    }
    lilv_scale_points_free(points);
    return control;
}

bool has_type(PluginHost* host, const LilvPlugin* plugin, const LilvNode* type) {
    LilvNodes* types = lilv_plugin_get_value(plugin, host->nodes.rdf_type);
    bool found = types != nullptr && lilv_nodes_contains(types, type);
    lilv_nodes_free(types);
    return found;
}

// A port's kind, and for an atom port whether it carries MIDI, for an
// audio input whether it is a side-chain.
struct PortKindOf {
    PortKind kind;
    bool output;
    bool midi;
    bool side_chain;
};

PortKindOf kind_of(PluginHost* host, const LilvPlugin* plugin, const LilvPort* port) {
    const HostNodes& n = host->nodes;
    PortKindOf of{PORT_OTHER, lilv_port_is_a(plugin, port, n.output_port), false, false};
    if (lilv_port_is_a(plugin, port, n.audio_port)) {
        of.kind = PORT_AUDIO;
        of.side_chain = !of.output && lilv_port_has_property(plugin, port, n.side_chain);
    } else if (lilv_port_is_a(plugin, port, n.control_port)) {
        of.kind = PORT_CONTROL;
    } else if (lilv_port_is_a(plugin, port, n.cv_port)) {
        of.kind = PORT_CV;
    } else if (lilv_port_is_a(plugin, port, n.atom_port)) {
        of.kind = PORT_ATOM;
        of.midi = lilv_port_supports_event(plugin, port, n.midi_event);
    }
    return of;
}

void plan_ports(PluginHost* host, LinkPlan* link, uint32_t rate) {
    uint32_t count = lilv_plugin_get_num_ports(link->plugin);
    std::vector<float> minimum(count), maximum(count), defaults(count);
    lilv_plugin_get_port_ranges_float(link->plugin, minimum.data(), maximum.data(),
                                      defaults.data());
    link->atom_bytes = DEFAULT_SEQUENCE_BYTES;
    link->midi_input = NO_PORT;
    link->midi_output = NO_PORT;
    uint32_t counts[2][3] = {}; // [output][audio, side-chain, CV]
    for (uint32_t p = 0; p < count; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(link->plugin, p);
        const PortKindOf of = kind_of(host, link->plugin, port);
        PortPlan plan{};
        plan.symbol = lilv_node_as_string(lilv_port_get_symbol(link->plugin, port));
        plan.kind = of.kind;
        plan.output = of.output;
        plan.side_chain = of.side_chain;
        if (of.kind == PORT_AUDIO) {
            plan.channel = counts[of.output][of.side_chain ? 1 : 0]++;
        } else if (of.kind == PORT_CONTROL) {
            plan.control =
                declared_control(host, link->plugin, port, minimum[p], maximum[p], defaults[p]);
            const ControlRange range = control_range(&plan.control, rate);
            plan.value =
                static_cast<float>(value_or(range.default_value, value_or(range.minimum, 0.0)));
        } else if (of.kind == PORT_CV) {
            plan.channel = counts[of.output][2]++;
            plan.value = static_cast<float>(value_or(defaults[p], value_or(minimum[p], 0.0)));
        } else if (of.kind == PORT_ATOM) {
            plan.channel = link->atom_ports++;
            plan.midi = of.midi;
            uint32_t* first = of.output ? &link->midi_output : &link->midi_input;
            if (of.midi && *first == NO_PORT) {
                *first = plan.channel;
            }
            LilvNodes* sizes = lilv_port_get_value(link->plugin, port, host->nodes.minimum_size);
            if (sizes != nullptr && lilv_nodes_size(sizes) > 0) {
                int asked = lilv_node_as_int(lilv_nodes_get_first(sizes));
                link->atom_bytes = std::max(link->atom_bytes, static_cast<uint32_t>(asked));
            }
            lilv_nodes_free(sizes);
        }
        link->ports.push_back(plan);
    }
    // Whole 64-bit words, as the buffers are made of.
    link->atom_bytes = (link->atom_bytes + 7) / 8 * 8;
    const LinkPorts ports = link_ports(host, link->plugin);
    ChainLink& f = link->facts;
    f.audio_in = ports.audio_in;
    f.side_chain_in = ports.side_chain_in;
    f.audio_out = ports.audio_out;
    f.cv_in = ports.cv_in;
    f.cv_out = ports.cv_out;
    f.midi_in = ports.midi_in;
    f.midi_out = ports.midi_out;
    f.takes_notes = ports.takes_notes;
}

// A setting's parts: the plugin's place in the chain (0: every plugin that
// has the symbol), the symbol and the value as written.
struct SettingParts {
    uint32_t only;
    std::string symbol;
    std::string value;
};

// "SYMBOL=VALUE" or "K:SYMBOL=VALUE" for a chain of `plugins`; false with
// what is wrong.
bool split_setting(const std::string& text, size_t plugins, SettingParts* parts,
                   std::string* error) {
    size_t equals = text.find('=');
    size_t colon = text.find(':');
    size_t symbol_start = 0;
    parts->only = 0;
    if (colon != std::string::npos && colon < equals) {
        std::string number = text.substr(0, colon);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
            number.size() > 3) {
            *error = "K in K:SYMBOL=VALUE is a plugin's place in the chain";
            return false;
        }
        parts->only = static_cast<uint32_t>(std::stoul(number));
        symbol_start = colon + 1;
        if (parts->only == 0 || parts->only > plugins) {
            *error =
                "the load has " + std::to_string(plugins) + (plugins == 1 ? " plugin" : " plugins");
            return false;
        }
    }
    parts->symbol =
        equals == std::string::npos ? "" : text.substr(symbol_start, equals - symbol_start);
    parts->value = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (parts->symbol.empty() || parts->value.empty()) {
        *error = "not SYMBOL=VALUE or K:SYMBOL=VALUE";
        return false;
    }
    return true;
}

// "SYMBOL=VALUE" or "K:SYMBOL=VALUE" checked against the chain's control
// inputs at `rate`; the settings it makes, or a line saying why not.
bool plan_setting(const std::vector<LinkPlan>& plan, uint32_t rate, const std::string& text,
                  std::vector<Setting>* settings, std::string* error) {
    const std::string said = "setting '" + echoed(text) + "': ";
    SettingParts parts;
    if (!split_setting(text, plan.size(), &parts, error)) {
        *error = said + *error;
        return false;
    }
    bool found = false;
    for (uint32_t s = 0; s < plan.size(); ++s) {
        for (uint32_t p = 0; p < plan[s].ports.size(); ++p) {
            const PortPlan& port = plan[s].ports[p];
            if ((parts.only != 0 && s + 1 != parts.only) || port.kind != PORT_CONTROL ||
                port.output || port.symbol != parts.symbol) {
                continue;
            }
            float value = 0.0f;
            std::string why;
            const ControlRefusal refusal =
                control_value_of(&port.control, rate, parts.value, &value, &why);
            if (refusal != CONTROL_TAKEN) {
                *error = said + (refusal == CONTROL_NOT_TAKEN
                                     ? plan[s].facts.name + "'s " + parts.symbol + " " + why
                                     : why);
                return false;
            }
            settings->push_back(Setting{s, p, value});
            found = true;
        }
    }
    const std::string symbol = "'" + echoed(parts.symbol) + "'";
    if (!found && parts.only == 0) {
        *error = said + "no plugin of the load has a control input " + symbol;
    } else if (!found) {
        *error = said + plan[parts.only - 1].facts.name + " has no control input " + symbol;
    }
    return found;
}

// The chain's plugins, each with its ports; false with a line.
bool plan_chain(PluginHost* host, const PluginLoadOrder* order, std::vector<LinkPlan>* plan,
                std::string* error) {
    if (order->uris.empty() || order->uris.size() > PLUGIN_MAX_CHAIN) {
        *error = "a load is 1 to " + std::to_string(PLUGIN_MAX_CHAIN) + " plugins, not " +
                 std::to_string(order->uris.size());
        return false;
    }
    if (order->rate == 0) {
        *error = "a load needs a sample rate";
        return false;
    }
    plan->resize(order->uris.size());
    for (size_t s = 0; s < order->uris.size(); ++s) {
        LinkPlan& link = (*plan)[s];
        link.plugin = plugin_by_uri(host, order->uris[s]);
        if (link.plugin == nullptr) {
            *error = "no plugin " + echoed(order->uris[s]) +
                     " is installed (see 'test_zem_cli plugins')";
            return false;
        }
        link.facts.uri = order->uris[s];
        link.facts.name = node_text(lilv_plugin_get_name(link.plugin));
        plan_ports(host, &link, order->rate);
    }
    return true;
}

// What the world says of a preset that belongs to no plugin of the load.
std::string preset_elsewhere(PluginHost* host, LilvNode* preset, const std::string& given) {
    const std::string uri = echoed(given);
    LilvNode* applies_to = lilv_new_uri(host->world, LV2_CORE__appliesTo);
    LilvNode* owner =
        preset != nullptr ? lilv_world_get(host->world, preset, applies_to, nullptr) : nullptr;
    const LilvPlugin* plugin = owner != nullptr && lilv_node_is_uri(owner)
                                   ? plugin_by_uri(host, lilv_node_as_uri(owner))
                                   : nullptr;
    std::string text = plugin != nullptr ? "preset " + uri + " is for " +
                                               node_text(lilv_plugin_get_name(plugin)) +
                                               ", not a plugin of the load"
                                         : "no preset " + uri + " is installed";
    lilv_node_free(owner);
    lilv_node_free(applies_to);
    return text;
}
} // namespace

LinkPorts link_ports(PluginHost* host, const LilvPlugin* plugin) {
    LinkPorts ports{};
    for (uint32_t p = 0; p < lilv_plugin_get_num_ports(plugin); ++p) {
        const PortKindOf of = kind_of(host, plugin, lilv_plugin_get_port_by_index(plugin, p));
        if (of.kind == PORT_AUDIO) {
            ++(of.output ? ports.audio_out : of.side_chain ? ports.side_chain_in : ports.audio_in);
        } else if (of.kind == PORT_CV) {
            ++(of.output ? ports.cv_out : ports.cv_in);
        } else if (of.kind == PORT_ATOM && of.midi) {
            (of.output ? ports.midi_out : ports.midi_in) = true;
        }
    }
    // Effects often take MIDI only to be controlled (MIDI learn): notes are
    // for instruments and MIDI plugins.
    ports.takes_notes = ports.midi_in && (has_type(host, plugin, host->nodes.instrument) ||
                                          has_type(host, plugin, host->nodes.midi_plugin));
    return ports;
}

bool plan_order(PluginHost* host, const PluginLoadOrder* order, std::vector<LinkPlan>* plan,
                std::vector<Setting>* settings, std::string* error) {
    if (!plan_chain(host, order, plan, error)) {
        return false;
    }
    for (const std::string& text : order->settings) {
        if (!plan_setting(*plan, order->rate, text, settings, error)) {
            return false;
        }
    }
    return true;
}

bool preset_links(PluginHost* host, const std::vector<LinkPlan>& plan, const std::string& preset,
                  std::vector<uint32_t>* links, std::string* error) {
    LilvNode* node = lilv_new_uri(host->world, preset.c_str());
    for (uint32_t s = 0; node != nullptr && s < plan.size(); ++s) {
        LilvNodes* presets = lilv_plugin_get_related(plan[s].plugin, host->nodes.preset);
        if (lilv_nodes_contains(presets, node)) {
            links->push_back(s);
        }
        lilv_nodes_free(presets);
    }
    if (links->empty()) {
        *error = preset_elsewhere(host, node, preset);
    }
    lilv_node_free(node);
    return !links->empty();
}

bool plugin_load_check(PluginHost* host, const PluginLoadOrder* order, std::string* error) {
    std::vector<LinkPlan> plan;
    std::vector<Setting> settings;
    std::vector<uint32_t> links;
    return plan_order(host, order, &plan, &settings, error) &&
           (order->preset.empty() || preset_links(host, plan, order->preset, &links, error));
}
