// Whether a plugin's library gives what lilv will ask of it at instantiation:
// it opens, and it holds a descriptor of the plugin's URI. The listing asks
// this of every plugin in a child process, since a library runs code of its
// own as it opens and may crash or hang there.
#include "platform/lv2/lv2_internal.h"

#include "platform/common/echoed.h"
#include "platform/platform_engine.h"

#include <lv2/core/lv2.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <new>

namespace {
constexpr int64_t LIBRARY_OPEN_MS = 5000; // one library: far beyond what a sound one takes
constexpr uint32_t REASON_BYTES = 192;
constexpr uint32_t MOST_CHILDREN = 8; // one, and one more after each that died

struct OpenSlot {
    char reason[REASON_BYTES]; // "" when the library gives the plugin
};

struct OpenShared {
    std::atomic<uint32_t> at; // the plugin the child is checking
    OpenSlot slots[1];        // one a plugin, in the listing's order
};

struct OpenChild {
    PluginHost* host;
    const std::vector<PluginInfo>* plugins;
    OpenShared* shared;
    uint32_t first;
};

size_t shared_bytes(size_t plugins) {
    return sizeof(OpenShared) + (plugins > 0 ? plugins - 1 : 0) * sizeof(OpenSlot);
}

// The loader's words without the library's folder, which says nothing the
// listing does not.
std::string loader_words(const char* path) {
    const char* error = dlerror();
    std::string words = error != nullptr ? error : "the loader gave no reason";
    const char* slash = std::strrchr(path, '/');
    if (slash != nullptr && words.compare(0, std::strlen(path), path) == 0) {
        words = std::string(slash + 1) + words.substr(std::strlen(path));
    }
    return "its library does not open: " + echoed(words);
}

bool holds_descriptor(void* library, const char* uri) {
    auto find = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
    if (find == nullptr) {
        // A library of lv2_lib_descriptor only is asked at instantiation.
        return dlsym(library, "lv2_lib_descriptor") != nullptr;
    }
    for (uint32_t i = 0;; ++i) {
        const LV2_Descriptor* descriptor = find(i);
        if (descriptor == nullptr) {
            return false;
        }
        if (descriptor->URI != nullptr && std::strcmp(descriptor->URI, uri) == 0) {
            return true;
        }
    }
}

uint32_t check_in_child(void* parameter) {
    auto* child = static_cast<OpenChild*>(parameter);
    for (uint32_t i = child->first; i < child->plugins->size(); ++i) {
        child->shared->at.store(i);
        const PluginInfo& info = (*child->plugins)[i];
        const LilvPlugin* plugin = info.hostable ? plugin_by_uri(child->host, info.uri) : nullptr;
        if (plugin == nullptr) {
            continue;
        }
        platform_child_stage("open check", LIBRARY_OPEN_MS);
        std::snprintf(child->shared->slots[i].reason, REASON_BYTES, "%s",
                      library_problem(plugin).c_str());
    }
    child->shared->at.store(static_cast<uint32_t>(child->plugins->size()));
    return 0;
}

std::string death_words(const ChildEnd* end) {
    if (end->timed_out) {
        return "its library hung as it opened (over " + std::to_string(end->allowed_ms) + " ms)";
    }
    if (end->signal != 0) {
        return std::string("its library crashed as it opened (") + end->signal_name + ")";
    }
    return "its library ended the process as it opened (exit status " +
           std::to_string(end->exit_status) + ")";
}
} // namespace

std::string library_problem(const LilvPlugin* plugin) {
    const LilvNode* library = lilv_plugin_get_library_uri(plugin);
    char* path =
        library != nullptr ? lilv_file_uri_parse(lilv_node_as_uri(library), nullptr) : nullptr;
    if (path == nullptr) {
        return "it names no library";
    }
    // Never closed: some libraries cannot be unloaded, or loaded again.
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    std::string problem = handle == nullptr ? loader_words(path) : "";
    lilv_free(path);
    const char* uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    if (handle != nullptr && !holds_descriptor(handle, uri)) {
        problem = "its library holds no descriptor of " + echoed(uri);
    }
    return problem;
}

void plugin_host_check_libraries(PluginHost* host, std::vector<PluginInfo>* plugins) {
    if (plugins->empty()) {
        return;
    }
    const size_t bytes = shared_bytes(plugins->size());
    void* memory = platform_shared_alloc(bytes);
    if (memory == nullptr) {
        return;
    }
    auto* shared = new (memory) OpenShared{};
    OpenChild child{host, plugins, shared, 0};
    for (uint32_t children = 0; children < MOST_CHILDREN && child.first < plugins->size();
         ++children) {
        ChildEnd end;
        int stop_signal = 0;
        const ChildTask task{check_in_child, &child, nullptr, nullptr};
        platform_run_in_child(&task, &end, &stop_signal);
        const uint32_t at = shared->at.load();
        if (!end.started || at >= plugins->size()) {
            break;
        }
        // The child died in the library of plugin `at`: that one is said
        // to, and the next child goes on after it.
        std::snprintf(shared->slots[at].reason, REASON_BYTES, "%s", death_words(&end).c_str());
        child.first = at + 1;
    }
    for (size_t i = 0; i < plugins->size(); ++i) {
        PluginInfo& info = (*plugins)[i];
        if (info.hostable && shared->slots[i].reason[0] != '\0') {
            info.hostable = false;
            info.open_error = shared->slots[i].reason;
        }
    }
    platform_shared_free(memory, bytes);
}
