// The plugins that schedule work: the worker, which asks every block and
// counts the answers, and the late load, silent until its worker has loaded
// what it plays.
#include "tests/plugins/test_plugin.h"

#include <chrono>
#include <cstring>

namespace {
// How long the late load's worker takes to load what it plays.
constexpr auto LOAD_TIME = std::chrono::milliseconds(5);

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle respond_handle, uint32_t size, const void* data) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->work_thread = std::this_thread::get_id();
    if (plugin->kind == LATE_LOAD) {
        std::this_thread::sleep_for(LOAD_TIME);
    }
    return respond(respond_handle, size, data);
}

// On the thread that runs the plugin: off_thread is 1 once work ran on
// another thread, answers counts the answers.
LV2_Worker_Status work_response(LV2_Handle handle, uint32_t, const void*) {
    auto* plugin = static_cast<Plugin*>(handle);
    if (plugin->kind == LATE_LOAD) {
        plugin->loaded = true;
        return LV2_WORKER_SUCCESS;
    }
    *port(plugin, 3) = plugin->work_thread != std::this_thread::get_id() ? 1.0f : 0.0f;
    *port(plugin, 4) += 1.0f;
    return LV2_WORKER_SUCCESS;
}
} // namespace

bool ask_work(Plugin* plugin) {
    return plugin->schedule->schedule_work(plugin->schedule->handle, sizeof plugin->runs,
                                           &plugin->runs) == LV2_WORKER_SUCCESS;
}

void late_load_run(Plugin* plugin, uint32_t frames) {
    if (!plugin->loaded) {
        if (!plugin->asked) {
            plugin->asked = ask_work(plugin);
        }
        std::memset(port(plugin, 1), 0, frames * sizeof(float));
        return;
    }
    labour(plugin, frames);
}

const void* extension_data(const char* uri) {
    static const LV2_Worker_Interface worker{work, work_response, nullptr};
    return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : nullptr;
}
