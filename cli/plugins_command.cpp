#include "cli/plugins_command.h"

#include "cli/output.h"
#include "platform/platform_plugins.h"
#include "report/plugins_report.h"

#include <cstdio>
#include <cstdlib>

int run_plugins_command(bool json) {
    std::string why;
    PluginHost* host = plugin_host_open(&why);
    if (host == nullptr) {
        std::fprintf(stderr, "test_zem_cli: %s\n", why.c_str());
        return 1;
    }
    std::vector<PluginInfo> plugins = plugin_host_list(host);
    plugin_host_check_libraries(host, &plugins);
    plugin_host_close(host);
    const char* lv2_path = std::getenv("LV2_PATH");
    if (json) {
        std::string text =
            plugins_json(plugins, lv2_path)
                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        std::fprintf(stdout, "%s\n", text.c_str());
    } else {
        print_plugins_text(stdout, plugins, lv2_path);
    }
    return stdout_finish() ? 0 : 1;
}
