// Plugin loads seen from the engine: what validation's record means for a
// load (failed, flagged or passed), and a load's own cost, timed offline.
//
// The offline cost is that of one instance on one thread, block after
// block, outside the real-time path: the plugins' run and the period's
// bookkeeping (plugin_load_run then plugin_load_finish_period), with the
// data in the caches. It gives the kernel-alone bound at a block size, and
// over several block sizes a cost line A + B·n per instance-block.
#pragma once

#include "platform/platform_plugins.h"

#include <cstdint>
#include <string>
#include <vector>

// How long each stage of a child that runs plugin code may take before the
// child is killed and the stage named: far beyond what a plugin that works
// needs, so that only one that hangs meets them.
constexpr int64_t STAGE_OPEN_MS = 10000;           // instantiate, activate: one instance
constexpr int64_t STAGE_PER_INSTANCE_MS = 100;     // each further instance
constexpr int64_t STAGE_OFFLINE_TIMING_MS = 30000; // the offline rounds of one instance
constexpr int64_t STAGE_TRIAL_MARGIN_MS = 10000;   // beyond a trial's own length
constexpr int64_t STAGE_CLOSE_MS = 10000;          // deactivate and free: one instance
// The allowance of a stage of `instances` instances.
int64_t stage_allowance_ms(int64_t one_ms, uint64_t instances);

enum PluginVerdict : uint32_t { PLUGIN_PASSED = 0, PLUGIN_FLAGGED = 1, PLUGIN_FAILED = 2 };

// Failed: refused, crashed (a signal), hung (timed out), ended by itself
// before it was done, or NaN or infinity in an output. Flagged: denormals
// in an output, allocations, kernel memory, files or threads during run,
// threads of its own after it, or a plugin without hardRTCapable.
PluginVerdict plugin_verdict(const PluginValidation* validation);

// Before it is timed, a plugin runs until it has settled: its worker idle
// (a kit or a response loaded) and its cost steady from one window of
// blocks to the next, over at least SETTLE_MIN_AUDIO_S of audio and at most
// SETTLE_MAX_NS of our time; what it gave in its last window is kept.
constexpr double SETTLE_MIN_AUDIO_S = 1.0;
constexpr int64_t SETTLE_MAX_NS = 10000000000;

struct PluginCost {
    uint32_t frames;
    double ns_per_block;      // one instance, one block: the best round's mean
    double ns_per_sample;     // the same, per sample
    uint64_t blocks;          // blocks timed in all
    uint64_t settle_blocks;   // blocks run before the timing
    bool settled;             // false: timed when SETTLE_MAX_NS ran out
    PluginOutputShape output; // of the last blocks before the timing
};

// Opens the load with one instance at order->frames, lets it settle, and
// times `repeats` rounds of at least `round_ns` each, after one untimed
// round; the best round counts. In a child, each of its stages
// (instantiate, offline timing, close) is named with its allowance. Run it
// on a thread that flushes denormals, as the real-time threads do. False
// with a line in `error` when the load will not open.
bool plugin_cost_measure(PluginHost* host, const PluginLoadOrder* order, int64_t (*now_ns)(),
                         uint32_t repeats, int64_t round_ns, PluginCost* cost, std::string* error);

// ns_per_block ≈ a_ns + b_ns_per_sample · frames, least squares over the
// costs given (two or more block sizes; with one, all of it is B).
struct PluginCostLine {
    double a_ns;
    double b_ns_per_sample;
};
PluginCostLine plugin_cost_line(const std::vector<PluginCost>& costs);
