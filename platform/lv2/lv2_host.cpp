// The LV2 host through lilv: the world of installed plugins (lilv reads
// LV2_PATH, or the system's folders), the listing, and what we can host.
#include "platform/lv2/lv2_internal.h"

#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/resize-port/resize-port.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {
// What a plugin may require of us. The last three are properties of the
// plugin itself that some plugins list as required: we run any block in
// real time, and never in place (every output has a buffer of its own).
const char* const PROVIDED_FEATURES[] = {
    LV2_URID__map,
    LV2_URID__unmap,
    LV2_OPTIONS__options,
    LV2_BUF_SIZE__boundedBlockLength,
    LV2_BUF_SIZE__fixedBlockLength,
    LV2_BUF_SIZE__powerOf2BlockLength, // at power-of-2 block sizes only
    LV2_WORKER__schedule,
    LV2_LOG__log,
    LV2_STATE__loadDefaultState,
    LV2_CORE__hardRTCapable,
    LV2_CORE__isLive,
    LV2_CORE__inPlaceBroken,
};

bool provided(const char* uri) {
    return std::any_of(std::begin(PROVIDED_FEATURES), std::end(PROVIDED_FEATURES),
                       [uri](const char* feature) { return std::strcmp(feature, uri) == 0; });
}

HostNodes make_nodes(LilvWorld* world) {
    return HostNodes{
        lilv_new_uri(world, LV2_CORE__AudioPort),
        lilv_new_uri(world, LV2_CORE__ControlPort),
        lilv_new_uri(world, LV2_CORE__CVPort),
        lilv_new_uri(world, LV2_ATOM__AtomPort),
        lilv_new_uri(world, LV2_CORE__InputPort),
        lilv_new_uri(world, LV2_CORE__OutputPort),
        lilv_new_uri(world, LV2_MIDI__MidiEvent),
        lilv_new_uri(world, LV2_CORE__connectionOptional),
        lilv_new_uri(world, LV2_RESIZE_PORT__minimumSize),
        lilv_new_uri(world, LV2_CORE__InstrumentPlugin),
        lilv_new_uri(world, LV2_CORE__hardRTCapable),
        lilv_new_uri(world, LV2_PRESETS__Preset),
        lilv_new_uri(world, LV2_STATE__loadDefaultState),
        lilv_new_uri(world, LV2_WORKER__interface),
        lilv_new_uri(world, LV2_WORKER__schedule),
        lilv_new_uri(world, LV2_CORE__sampleRate),
        lilv_new_uri(world, LV2_CORE__integer),
        lilv_new_uri(world, LV2_CORE__toggled),
        lilv_new_uri(world, LV2_CORE__enumeration),
        lilv_new_uri(world, LV2_CORE_PREFIX "MIDIPlugin"),
        lilv_new_uri(world, LV2_CORE_PREFIX "isSideChain"),
        lilv_new_uri(world, "http://www.w3.org/1999/02/22-rdf-syntax-ns#type"),
    };
}

void free_nodes(HostNodes* nodes) {
    for (LilvNode* node : {nodes->audio_port,      nodes->control_port,
                           nodes->cv_port,         nodes->atom_port,
                           nodes->input_port,      nodes->output_port,
                           nodes->midi_event,      nodes->connection_optional,
                           nodes->minimum_size,    nodes->instrument,
                           nodes->hard_rt,         nodes->preset,
                           nodes->default_state,   nodes->worker_interface,
                           nodes->worker_schedule, nodes->sample_rate,
                           nodes->integer,         nodes->toggled,
                           nodes->enumeration,     nodes->midi_plugin,
                           nodes->side_chain,      nodes->rdf_type}) {
        lilv_node_free(node);
    }
}

std::string port_kind_text(const LilvPlugin* plugin, const LilvPort* port) {
    const LilvNodes* classes = lilv_port_get_classes(plugin, port);
    std::string kinds;
    LILV_FOREACH(nodes, i, classes) {
        std::string uri = lilv_node_as_uri(lilv_nodes_get(classes, i));
        if (uri != LV2_CORE__InputPort && uri != LV2_CORE__OutputPort) {
            kinds += (kinds.empty() ? "" : ", ") + uri;
        }
    }
    return kinds.empty() ? "no type" : kinds;
}

// LV2_PATH with every relative folder made absolute: lilv takes a relative
// one for a URI and fails on it.
std::string absolute_folders(const char* lv2_path) {
    char here[4096];
    std::string base = getcwd(here, sizeof here) != nullptr ? std::string(here) + "/" : "/";
    std::string result;
    std::string list = lv2_path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = std::min(list.find(':', start), list.size());
        std::string folder = list.substr(start, end - start);
        if (!folder.empty()) {
            bool absolute = folder[0] == '/' || folder[0] == '~';
            result += (result.empty() ? "" : ":") + (absolute ? folder : base + folder);
        }
        start = end + 1;
    }
    return result;
}

void fill_info(PluginHost* host, const LilvPlugin* plugin, PluginInfo* info) {
    const HostNodes& n = host->nodes;
    *info = PluginInfo{};
    info->uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    info->name = node_text(lilv_plugin_get_name(plugin));
    const LilvPluginClass* plugin_class = lilv_plugin_get_class(plugin);
    info->class_label = lilv_node_as_string(lilv_plugin_class_get_label(plugin_class));
    const LinkPorts ports = link_ports(host, plugin);
    info->audio_in = ports.audio_in;
    info->side_chain_in = ports.side_chain_in;
    info->audio_out = ports.audio_out;
    info->cv_in = ports.cv_in;
    info->cv_out = ports.cv_out;
    info->midi_in = ports.midi_in;
    info->takes_notes = ports.takes_notes;
    for (uint32_t p = 0; p < lilv_plugin_get_num_ports(plugin); ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        bool output = lilv_port_is_a(plugin, port, n.output_port);
        if (lilv_port_is_a(plugin, port, n.control_port)) {
            ++(output ? info->control_out : info->control_in);
        } else if (lilv_port_is_a(plugin, port, n.atom_port)) {
            ++(output ? info->event_out : info->event_in);
        }
    }
    info->hard_rt_capable = lilv_plugin_has_feature(plugin, n.hard_rt);
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    LILV_FOREACH(nodes, i, required) {
        info->required_features.emplace_back(lilv_node_as_uri(lilv_nodes_get(required, i)));
    }
    lilv_nodes_free(required);
    info->hostable = plugin_hostable(host, plugin, 0, &info->missing);
}
} // namespace

std::string node_text(LilvNode* node) {
    std::string text = node != nullptr ? lilv_node_as_string(node) : "";
    lilv_node_free(node);
    return text;
}

bool plugin_hostable(PluginHost* host, const LilvPlugin* plugin, uint32_t frames,
                     std::string* missing) {
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    missing->clear();
    // Of several missing, the first by URI: lilv's order differs from one
    // world to the next, and every caller must name the same.
    LILV_FOREACH(nodes, i, required) {
        const char* uri = lilv_node_as_uri(lilv_nodes_get(required, i));
        if (!provided(uri)) {
            if (missing->empty() || *missing > uri) {
                *missing = uri;
            }
        } else if (std::strcmp(uri, LV2_BUF_SIZE__powerOf2BlockLength) == 0 && frames != 0 &&
                   (frames & (frames - 1)) != 0 && missing->empty()) {
            *missing = std::string(uri) + " (the block size, " + std::to_string(frames) +
                       ", is not a power of 2)";
        }
    }
    lilv_nodes_free(required);
    const HostNodes& n = host->nodes;
    for (uint32_t p = 0; p < lilv_plugin_get_num_ports(plugin) && missing->empty(); ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        bool known = lilv_port_is_a(plugin, port, n.audio_port) ||
                     lilv_port_is_a(plugin, port, n.control_port) ||
                     lilv_port_is_a(plugin, port, n.cv_port) ||
                     lilv_port_is_a(plugin, port, n.atom_port);
        if (!known && !lilv_port_has_property(plugin, port, n.connection_optional)) {
            *missing = std::string("port '") +
                       lilv_node_as_string(lilv_port_get_symbol(plugin, port)) + "' of type " +
                       port_kind_text(plugin, port);
        }
    }
    return missing->empty();
}

const LilvPlugin* plugin_by_uri(PluginHost* host, const std::string& uri) {
    LilvNode* node = lilv_new_uri(host->world, uri.c_str());
    const LilvPlugin* plugin =
        node != nullptr ? lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host->world), node)
                        : nullptr;
    lilv_node_free(node);
    return plugin;
}

bool host_has_display() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

void keep_library(const LilvPlugin* plugin) {
    const LilvNode* library = lilv_plugin_get_library_uri(plugin);
    char* path =
        library != nullptr ? lilv_file_uri_parse(lilv_node_as_uri(library), nullptr) : nullptr;
    if (path != nullptr) {
        // A reference of our own, never given back, on the library lilv has
        // loaded: lilv's unloading it with the last instance leaves it here.
        dlopen(path, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        lilv_free(path);
    }
}

PluginHost* plugin_host_open(std::string* why) {
    // Plugins with a Qt interface abort without a display unless Qt draws
    // offscreen; set here, before any child, so that every child inherits it.
    if (!host_has_display()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    LilvWorld* world = lilv_world_new();
    if (world == nullptr) {
        *why = "lilv could not start";
        return nullptr;
    }
    const char* lv2_path = std::getenv("LV2_PATH");
    if (lv2_path != nullptr) {
        LilvNode* path = lilv_new_string(world, absolute_folders(lv2_path).c_str());
        lilv_world_set_option(world, LILV_OPTION_LV2_PATH, path);
        lilv_node_free(path);
    }
    lilv_world_load_all(world);
    auto* host = new PluginHost{};
    host->world = world;
    host->nodes = make_nodes(world);
    urid_map_init(&host->urids);
    why->clear();
    return host;
}

void plugin_host_close(PluginHost* host) {
    if (host == nullptr) {
        return;
    }
    free_nodes(&host->nodes);
    lilv_world_free(host->world);
    delete host;
}

std::vector<PluginInfo> plugin_host_list(PluginHost* host) {
    std::vector<PluginInfo> list;
    const LilvPlugins* plugins = lilv_world_get_all_plugins(host->world);
    LILV_FOREACH(plugins, i, plugins) {
        list.emplace_back();
        fill_info(host, lilv_plugins_get(plugins, i), &list.back());
    }
    std::sort(list.begin(), list.end(),
              [](const PluginInfo& a, const PluginInfo& b) { return a.uri < b.uri; });
    return list;
}

bool plugin_host_info(PluginHost* host, const std::string& uri, PluginInfo* info) {
    const LilvPlugin* plugin = plugin_by_uri(host, uri);
    if (plugin == nullptr) {
        return false;
    }
    fill_info(host, plugin, info);
    return true;
}
