// The installed plugins as text and JSON (`test_zem_cli plugins`), and the
// one line that says how a load's validation went.
#pragma once

#include "engine/realtime/plugin_cost.h"
#include "platform/platform_plugins.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

// A feature's URI as people write it: "urid:map", "work:schedule"; URIs
// outside the LV2 specifications stay whole.
std::string lv2_short_name(const std::string& uri);

// `lv2_path`: the LV2_PATH the host read, nullptr when unset.
void print_plugins_text(FILE* out, const std::vector<PluginInfo>& plugins, const char* lv2_path);
nlohmann::ordered_json plugins_json(const std::vector<PluginInfo>& plugins, const char* lv2_path);

// e.g. "ZEM test crash: failed: crashed with SIGSEGV in run (block 1)",
// "x42-eq: flagged: 2 allocations during run; no hardRTCapable". `names`
// are the chain's plugins' names, in order.
std::string plugin_validation_line(const std::vector<std::string>& names,
                                   const PluginValidation* validation);
// Only why it failed or was flagged, for a line that names the chain
// already; a plugin is named only in a chain of several. "" when it passed.
std::string plugin_validation_reason(const std::vector<std::string>& names,
                                     const PluginValidation* validation);
