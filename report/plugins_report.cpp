// The installed plugins' listing as text and JSON, and validation's lines.
#include "report/plugins_report.h"

#include "report/machine.h"

namespace {
// The LV2 specifications' namespaces and the prefixes their documents use.
const char* const PREFIXES[][2] = {
    {"http://lv2plug.in/ns/lv2core#", "lv2:"},
    {"http://lv2plug.in/ns/ext/urid#", "urid:"},
    {"http://lv2plug.in/ns/ext/options#", "opts:"},
    {"http://lv2plug.in/ns/ext/buf-size#", "bufsz:"},
    {"http://lv2plug.in/ns/ext/worker#", "work:"},
    {"http://lv2plug.in/ns/ext/log#", "log:"},
    {"http://lv2plug.in/ns/ext/state#", "state:"},
    {"http://lv2plug.in/ns/ext/data-access", "data-access"},
    {"http://lv2plug.in/ns/ext/instance-access", "instance-access"},
    {"http://lv2plug.in/ns/ext/uri-map", "uri-map"},
    {"http://lv2plug.in/ns/ext/event", "event"},
    {"http://lv2plug.in/ns/ext/atom#", "atom:"},
    {"http://lv2plug.in/ns/ext/midi#", "midi:"},
    {"http://lv2plug.in/ns/extensions/ui#", "ui:"},
};

std::string ports_text(const char* what, uint32_t in, uint32_t out) {
    return std::string(what) + " " + std::to_string(in) + "/" + std::to_string(out);
}

std::string plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string path_text(const char* lv2_path) {
    return lv2_path != nullptr ? std::string("LV2_PATH ") + lv2_path
                               : std::string("LV2_PATH not set: the system's folders");
}

// What validation saw of one plugin that flags it, in words.
std::string flags_of(const PluginFindings& plugin) {
    std::string text;
    auto add = [&text](const std::string& words) { text += (text.empty() ? "" : ", ") + words; };
    if (plugin.denormals > 0) {
        add(plural(plugin.denormals, "denormal output sample", "denormal output samples"));
    }
    if (plugin.allocations > 0) {
        add(plural(static_cast<uint64_t>(plugin.allocations), "allocation", "allocations") +
            " during run");
    }
    if (plugin.kernel_memory > 0) {
        add(plural(static_cast<uint64_t>(plugin.kernel_memory), "memory call", "memory calls") +
            " to the kernel during run");
    }
    if (plugin.files > 0) {
        add(plural(static_cast<uint64_t>(plugin.files), "file opened", "files opened") +
            " during run");
    }
    if (plugin.threads > 0) {
        add(plural(static_cast<uint64_t>(plugin.threads), "thread started", "threads started") +
            " during run");
    }
    if (!plugin.hard_rt_capable) {
        add("not declared hardRTCapable");
    }
    return text;
}
} // namespace

std::string lv2_short_name(const std::string& uri) {
    for (const auto& prefix : PREFIXES) {
        std::string whole = prefix[0];
        if (uri.rfind(whole, 0) == 0) {
            return prefix[1] + uri.substr(whole.size());
        }
    }
    return uri;
}

void print_plugins_text(FILE* out, const std::vector<PluginInfo>& plugins, const char* lv2_path) {
    size_t hostable = 0;
    for (const PluginInfo& plugin : plugins) {
        hostable += plugin.hostable ? 1 : 0;
    }
    if (plugins.empty()) {
        std::fprintf(out, "No LV2 plugins found (%s).\n", path_text(lv2_path).c_str());
        return;
    }
    std::fprintf(out,
                 "%s (%s): %zu can be hosted, %zu cannot.\n"
                 "Ports as inputs/outputs (audio: the main ones); events are atom ports;\n"
                 "takes notes: an instrument or a MIDI plugin; MIDI in: takes MIDI, not notes.\n\n",
                 plural(plugins.size(), "LV2 plugin", "LV2 plugins").c_str(),
                 path_text(lv2_path).c_str(), hostable, plugins.size() - hostable);
    for (const PluginInfo& plugin : plugins) {
        std::string facts =
            plugin.class_label + " · " + ports_text("audio", plugin.audio_in, plugin.audio_out);
        if (plugin.side_chain_in > 0) {
            facts += " + " + std::to_string(plugin.side_chain_in) + " side-chain in";
        }
        facts += " · " + ports_text("control", plugin.control_in, plugin.control_out);
        if (plugin.cv_in + plugin.cv_out > 0) {
            facts += " · " + ports_text("CV", plugin.cv_in, plugin.cv_out);
        }
        facts += " · " + ports_text("events", plugin.event_in, plugin.event_out);
        if (plugin.takes_notes) {
            facts += " · takes notes";
        } else if (plugin.midi_in) {
            facts += " · MIDI in";
        }
        facts += plugin.hard_rt_capable ? " · hard RT" : " · not hard RT";
        std::string required;
        for (const std::string& feature : plugin.required_features) {
            required += (required.empty() ? "" : ", ") + lv2_short_name(feature);
        }
        if (!required.empty()) {
            facts += " · requires " + required;
        }
        std::fprintf(out, "%s  <%s>\n    %s\n", plugin.name.c_str(), plugin.uri.c_str(),
                     facts.c_str());
        if (!plugin.hostable && !plugin.open_error.empty()) {
            std::fprintf(out, "    cannot be hosted: %s\n", plugin.open_error.c_str());
        } else if (!plugin.hostable) {
            std::fprintf(out, "    cannot be hosted: it requires %s\n",
                         lv2_short_name(plugin.missing).c_str());
        }
    }
}

nlohmann::ordered_json plugins_json(const std::vector<PluginInfo>& plugins, const char* lv2_path) {
    nlohmann::ordered_json doc;
    doc["schema_version"] = REPORT_SCHEMA_VERSION;
    doc["mode"] = "plugins";
    doc["lv2_path"] = lv2_path != nullptr ? nlohmann::ordered_json(lv2_path) : nullptr;
    doc["plugins"] = nlohmann::ordered_json::array();
    for (const PluginInfo& plugin : plugins) {
        nlohmann::ordered_json entry;
        entry["uri"] = plugin.uri;
        entry["name"] = plugin.name;
        entry["class"] = plugin.class_label;
        entry["audio"] = {{"in", plugin.audio_in},
                          {"out", plugin.audio_out},
                          {"side_chain_in", plugin.side_chain_in}};
        entry["control"] = {{"in", plugin.control_in}, {"out", plugin.control_out}};
        entry["cv"] = {{"in", plugin.cv_in}, {"out", plugin.cv_out}};
        entry["events"] = {{"in", plugin.event_in}, {"out", plugin.event_out}};
        entry["midi_in"] = plugin.midi_in;
        entry["takes_notes"] = plugin.takes_notes;
        entry["hard_rt_capable"] = plugin.hard_rt_capable;
        entry["required_features"] = plugin.required_features;
        entry["hostable"] = plugin.hostable;
        entry["missing"] = plugin.hostable || plugin.missing.empty()
                               ? nlohmann::ordered_json(nullptr)
                               : nlohmann::ordered_json(plugin.missing);
        entry["open_error"] = plugin.open_error.empty() ? nlohmann::ordered_json(nullptr)
                                                        : nlohmann::ordered_json(plugin.open_error);
        doc["plugins"].push_back(entry);
    }
    return doc;
}

namespace {
// "10 s", "12.5 s".
std::string seconds_text(int64_t ms) {
    char text[32];
    if (ms % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(ms / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    }
    return text;
}
} // namespace

namespace {
std::string chain_name(const std::vector<std::string>& names) {
    std::string chain;
    for (const std::string& name : names) {
        chain += (chain.empty() ? "" : " + ") + name;
    }
    return chain;
}

// Why the child failed, without naming the plugin; "" when it did not.
std::string failure_reason(const PluginValidation* validation) {
    const char* stage = PLUGIN_STAGE_NAMES[validation->stage];
    std::string where =
        std::string(stage) + (validation->stage == PLUGIN_STAGE_RUN
                                  ? " (block " + std::to_string(validation->block + 1) + ")"
                                  : "");
    if (validation->timed_out) {
        return "no answer in " + where + " after " + seconds_text(validation->allowed_ms) +
               ", killed";
    }
    if (validation->signal != 0) {
        return "crashed with " + validation->signal_name + " in " + where +
               (validation->no_display ? ", for want of a display it seems (this host has none: "
                                         "DISPLAY and WAYLAND_DISPLAY are unset)"
                                       : "");
    }
    if (validation->exit_status != 0 || validation->stage != PLUGIN_STAGE_DONE) {
        return "the process ended with status " + std::to_string(validation->exit_status) + " in " +
               where;
    }
    for (const PluginFindings& found : validation->plugins) {
        if (found.non_finite > 0) {
            return plural(found.non_finite, "NaN or infinite output sample",
                          "NaN or infinite output samples");
        }
    }
    return "";
}

// The plugin a failure is in: the first with NaN output, or where the child was.
uint32_t failed_plugin(const PluginValidation* validation) {
    if (validation->signal == 0 && !validation->timed_out && validation->exit_status == 0 &&
        validation->stage == PLUGIN_STAGE_DONE) {
        for (size_t p = 0; p < validation->plugins.size(); ++p) {
            if (validation->plugins[p].non_finite > 0) {
                return static_cast<uint32_t>(p);
            }
        }
    }
    return validation->plugin;
}

// Each plugin's flags, named by plugin in a chain of several.
std::string flag_reason(const std::vector<std::string>& names, const PluginValidation* validation) {
    std::string flags;
    for (size_t p = 0; p < validation->plugins.size(); ++p) {
        std::string own = flags_of(validation->plugins[p]);
        if (own.empty()) {
            continue;
        }
        const bool named = names.size() > 1 && p < names.size();
        flags += (flags.empty() ? "" : "; ") + (named ? names[p] + ": " : "") + own;
    }
    if (validation->extra_threads > 0) {
        flags += (flags.empty() ? "" : "; ") +
                 plural(static_cast<uint64_t>(validation->extra_threads), "thread", "threads") +
                 " of the plugins' own";
    }
    return flags;
}

// The host's refusal names the plugin first ("X cannot be hosted: ..."):
// which one, and the rest.
bool refusal_names(const std::vector<std::string>& names, const std::string& refusal,
                   std::string* plugin, std::string* rest) {
    for (const std::string& name : names) {
        if (!name.empty() && refusal.compare(0, name.size() + 1, name + " ") == 0) {
            *plugin = name;
            *rest = refusal.substr(name.size() + 1);
            return true;
        }
    }
    return false;
}
} // namespace

std::string plugin_validation_reason(const std::vector<std::string>& names,
                                     const PluginValidation* validation) {
    std::string plugin, rest;
    if (!validation->refusal.empty()) {
        const bool named = refusal_names(names, validation->refusal, &plugin, &rest);
        return named && names.size() == 1 ? rest : validation->refusal;
    }
    const std::string failure = failure_reason(validation);
    if (!failure.empty()) {
        const uint32_t p = failed_plugin(validation);
        return names.size() > 1 && p < names.size() ? names[p] + ": " + failure : failure;
    }
    return plugin_verdict(validation) == PLUGIN_FLAGGED ? flag_reason(names, validation) : "";
}

std::string plugin_validation_line(const std::vector<std::string>& names,
                                   const PluginValidation* validation) {
    const std::string chain = chain_name(names);
    std::string plugin, rest;
    if (!validation->refusal.empty()) {
        return refusal_names(names, validation->refusal, &plugin, &rest)
                   ? plugin + ": failed: " + rest
                   : chain + ": failed: " + validation->refusal;
    }
    const std::string failure = failure_reason(validation);
    if (!failure.empty()) {
        const uint32_t p = failed_plugin(validation);
        return (p < names.size() ? names[p] : chain) + ": failed: " + failure;
    }
    if (plugin_verdict(validation) == PLUGIN_FLAGGED) {
        return chain + ": flagged: " + flag_reason(names, validation);
    }
    return chain + ": passed";
}
