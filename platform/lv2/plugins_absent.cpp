// Stand-in for Windows and for builds without lilv: no host opens, and the
// caller learns why in one line.
#include "platform/platform_plugins.h"

namespace {
#ifdef _WIN32
const char* const WHY = "LV2 hosting is a Linux feature";
#else
const char* const WHY = "LV2 hosting is a Linux feature, and this build has none (built without "
                        "lilv's development files, liblilv-dev and lv2-dev)";
#endif
} // namespace

PluginHost* plugin_host_open(std::string* why) {
    *why = WHY;
    return nullptr;
}

void plugin_host_close(PluginHost*) {}

std::vector<PluginInfo> plugin_host_list(PluginHost*) {
    return {};
}

bool plugin_host_info(PluginHost*, const std::string&, PluginInfo*) {
    return false;
}

void plugin_host_check_libraries(PluginHost*, std::vector<PluginInfo>*) {}

bool plugin_load_check(PluginHost*, const PluginLoadOrder*, std::string* error) {
    *error = WHY;
    return false;
}

PluginLoad* plugin_load_open(PluginHost*, const PluginLoadOrder*, PluginLoadFacts*,
                             std::string* error) {
    *error = WHY;
    return nullptr;
}

void plugin_load_run(PluginLoad*, uint32_t, uint32_t) {}

void plugin_load_run_link(PluginLoad*, uint32_t, uint32_t) {}

uint32_t plugin_load_links(const PluginLoad*) {
    return 0;
}

void plugin_load_finish_period(PluginLoad*, uint32_t) {}

void plugin_load_restart(PluginLoad*, uint32_t, uint32_t) {}

const float* plugin_load_output(const PluginLoad*, uint32_t, uint32_t) {
    return nullptr;
}

float* plugin_load_input(PluginLoad*, uint32_t, uint32_t) {
    return nullptr;
}

bool plugin_load_control(const PluginLoad*, uint32_t, uint32_t, const std::string&, float*) {
    return false;
}

PluginOutputShape plugin_load_output_shape(const PluginLoad*, uint32_t) {
    return PLUGIN_OUTPUT_NONE;
}

PluginWorkerStats plugin_load_worker(const PluginLoad*) {
    return PluginWorkerStats{};
}

std::string plugin_load_log(const PluginLoad*) {
    return {};
}

void plugin_load_close(PluginLoad*) {}

void plugin_validate(PluginHost*, const PluginLoadOrder*, const PluginValidateOptions*,
                     PluginValidation* result) {
    *result = PluginValidation{};
    result->refusal = WHY;
}
