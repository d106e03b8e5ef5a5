#include "engine/realtime/plugin_cost.h"

#include "engine/realtime/best_round.h"
#include "platform/platform_engine.h"

#include <algorithm>
#include <cmath>

namespace {
// Blocks between two readings of the clock: enough that reading it costs
// nothing next to them, few enough to stop close to the round's end.
constexpr uint32_t BLOCKS_PER_READING = 8;
// Settling is judged over windows of blocks, each at least this long in
// audio; two in a row within SETTLE_STEADY of each other (or SETTLE_FLOOR_NS
// a block, below which the clock's own noise decides) are steady.
constexpr uint32_t SETTLE_WINDOW_BLOCKS = 16;
constexpr double SETTLE_WINDOW_AUDIO_S = 0.1;
constexpr double SETTLE_STEADY = 0.25;
constexpr double SETTLE_FLOOR_NS = 500.0;
// After each window the worker gets this long to do what was asked, the
// timing thread asleep so that even a worker sharing its core runs: a
// plugin that asks for work every block is idle again well within it, one
// loading a kit is not.
constexpr uint32_t SETTLE_WORKER_WAIT_MS = 50;

bool any_fault(const PluginValidation* validation) {
    return !validation->refusal.empty() || validation->signal != 0 || validation->timed_out ||
           validation->exit_status != 0 || validation->stage != PLUGIN_STAGE_DONE;
}

bool counted(int64_t count) {
    return count > 0; // PLUGIN_NOT_CHECKED is negative
}

uint64_t blocks_of(double audio_s, const PluginLoadOrder* order) {
    return static_cast<uint64_t>(std::ceil(audio_s * order->rate / order->frames));
}

// A window's output: a sound in any block is a sound; silence in any other
// is silence.
PluginOutputShape merged(PluginOutputShape window, PluginOutputShape block) {
    if (window == PLUGIN_OUTPUT_SOUND || block == PLUGIN_OUTPUT_SOUND) {
        return PLUGIN_OUTPUT_SOUND;
    }
    return window == PLUGIN_OUTPUT_SILENT ? window : block;
}

// Runs windows of blocks until the plugin has settled or SETTLE_MAX_NS ran
// out; the rounds that follow time what it does from then on.
void settle(PluginLoad* load, const PluginLoadOrder* order, int64_t (*now_ns)(), PluginCost* cost) {
    const uint64_t window =
        std::max<uint64_t>(SETTLE_WINDOW_BLOCKS, blocks_of(SETTLE_WINDOW_AUDIO_S, order));
    const uint64_t least = blocks_of(SETTLE_MIN_AUDIO_S, order);
    const int64_t began = now_ns();
    double before = -1.0;
    for (;;) {
        int64_t spent = 0;
        for (uint64_t b = 0; b < window; ++b) {
            const int64_t start = now_ns();
            plugin_load_run(load, 0, 1);
            plugin_load_finish_period(load, 1);
            spent += now_ns() - start;
            cost->output = merged(b == 0 ? PLUGIN_OUTPUT_INPUT : cost->output,
                                  plugin_load_output_shape(load, 0));
        }
        cost->settle_blocks += window;
        const double per_block = static_cast<double>(spent) / static_cast<double>(window);
        const bool steady =
            before >= 0.0 &&
            std::fabs(per_block - before) <=
                std::max(SETTLE_STEADY * std::max(per_block, before), SETTLE_FLOOR_NS);
        before = per_block;
        bool idle = plugin_load_worker(load).idle;
        for (uint32_t waited = 0; !idle && waited < SETTLE_WORKER_WAIT_MS; ++waited) {
            platform_sleep_ms(1);
            idle = plugin_load_worker(load).idle;
        }
        if (cost->settle_blocks >= least && steady && idle) {
            cost->settled = true;
            return;
        }
        if (now_ns() - began > SETTLE_MAX_NS) {
            return;
        }
    }
}
} // namespace

int64_t stage_allowance_ms(int64_t one_ms, uint64_t instances) {
    const uint64_t more = instances > 1 ? instances - 1 : 0;
    return one_ms + static_cast<int64_t>(more) * STAGE_PER_INSTANCE_MS;
}

PluginVerdict plugin_verdict(const PluginValidation* validation) {
    if (any_fault(validation)) {
        return PLUGIN_FAILED;
    }
    bool flagged = validation->extra_threads > 0;
    for (const PluginFindings& plugin : validation->plugins) {
        if (plugin.non_finite > 0) {
            return PLUGIN_FAILED;
        }
        flagged = flagged || plugin.denormals > 0 || counted(plugin.allocations) ||
                  counted(plugin.kernel_memory) || counted(plugin.files) ||
                  counted(plugin.threads) || !plugin.hard_rt_capable;
    }
    return flagged ? PLUGIN_FLAGGED : PLUGIN_PASSED;
}

bool plugin_cost_measure(PluginHost* host, const PluginLoadOrder* order, int64_t (*now_ns)(),
                         uint32_t repeats, int64_t round_ns, PluginCost* cost, std::string* error) {
    PluginLoadOrder one = *order;
    one.instances = 1;
    PluginLoadFacts facts;
    platform_child_stage("instantiate", STAGE_OPEN_MS);
    PluginLoad* load = plugin_load_open(host, &one, &facts, error);
    if (load == nullptr) {
        return false;
    }
    platform_child_stage("offline timing", STAGE_OFFLINE_TIMING_MS);
    *cost = PluginCost{order->frames, 0.0, 0.0, 0, 0, false, PLUGIN_OUTPUT_NONE};
    settle(load, &one, now_ns, cost);
    const RoundPlan rounds{now_ns, 1, repeats, round_ns, BLOCKS_PER_READING, 1};
    cost->ns_per_block = best_round_ns(
        &rounds,
        [load] {
            plugin_load_run(load, 0, 1);
            plugin_load_finish_period(load, 1);
        },
        &cost->blocks);
    cost->ns_per_sample = cost->ns_per_block / order->frames;
    platform_child_stage("close", STAGE_CLOSE_MS);
    plugin_load_close(load);
    return true;
}

PluginCostLine plugin_cost_line(const std::vector<PluginCost>& costs) {
    double n = static_cast<double>(costs.size());
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (const PluginCost& cost : costs) {
        double x = cost.frames;
        sx += x;
        sy += cost.ns_per_block;
        sxx += x * x;
        sxy += x * cost.ns_per_block;
    }
    double spread = n * sxx - sx * sx;
    if (costs.size() < 2 || spread <= 0.0) {
        return PluginCostLine{0.0, sx > 0.0 ? sy / sx : 0.0};
    }
    double b = (n * sxy - sx * sy) / spread;
    return PluginCostLine{(sy - b * sx) / n, b};
}
