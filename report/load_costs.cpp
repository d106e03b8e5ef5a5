// A load's offline costs gathered over the run's buffer sizes.
#include "report/load_costs.h"

std::vector<PluginCost> load_costs(const RtRunResult* result, uint32_t index) {
    std::vector<PluginCost> costs;
    for (const RtConfigResult& config : result->configs) {
        const double each = config.tests[index].stream_ns_offline;
        bool seen = false;
        for (const PluginCost& cost : costs) {
            seen = seen || cost.frames == config.frames;
        }
        if (each > 0.0 && !seen) {
            costs.push_back(PluginCost{config.frames, each, each / config.frames, 0, 0, true,
                                       PLUGIN_OUTPUT_SOUND});
        }
    }
    return costs;
}
