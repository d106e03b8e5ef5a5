// A load's records, shared by the files that set it up and close it
// (lv2_load_open.cpp), restore its plugins' states and presets
// (lv2_load_state.cpp) and run its periods (lv2_load_run.cpp).
#pragma once

#include "platform/lv2/lv2_internal.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct StageInstance {
    LilvInstance* instance = nullptr;
    bool active = false;
    std::vector<float> controls;         // one per port; control ports use theirs
    std::vector<uint64_t> atoms;         // the atom ports' buffers, atom_bytes each
    std::vector<float> cv;               // the CV inputs' buffers, each its default
    PluginWorkerSlot* slot = nullptr;    // the schedule feature's
    PluginWorkerSlot* deliver = nullptr; // with a plugin worker interface: answers to deliver
    LV2_Feature schedule_feature;
    std::vector<const LV2_Feature*> features;
};

struct Instance {
    std::vector<float> audio; // channels of `frames` samples
    std::vector<std::unique_ptr<StageInstance>> stages;
    uint64_t origin = 0; // the load's position when it last started: its notes count from there
};

struct PluginLoad {
    PluginHost* host;
    uint32_t frames;
    uint32_t rate;
    uint32_t channels;
    std::vector<LinkPlan> plan;
    std::vector<Setting> settings;
    std::vector<Instance> instances;
    bool notes;
    uint64_t position; // the next period's first sample since the load opened
    std::vector<uint64_t> note_template;
    uint64_t template_at; // the pattern's sample note_template starts at
    LV2_URID sequence_type, chunk_type;
    NoteTypes note_types;
    LV2_Feature map_feature, unmap_feature, bounded_feature, fixed_feature, power_feature,
        log_feature, default_state_feature;
    LogBuffer log;
    PluginWorker plugin_worker;
    std::unique_ptr<PluginWorkerSlot[]> slots;
    std::unique_ptr<uint8_t[]> response_scratch;
};

// Default states and the preset, read from the world; false with a line.
bool plan_states(PluginLoad* load, const PluginLoadOrder* order, PluginLoadFacts* facts,
                 std::string* error);
void free_states(PluginLoad* load);
// Link s's default state, then its preset, restored into its stage just
// instantiated, then the order's settings over them.
void restore_stage(PluginLoad* load, uint32_t s, StageInstance* stage,
                   const LV2_Feature* const* features);

// The event buffers of instances [first, end) for the next period: inputs
// empty, or the notes for the MIDI input that gets them, from each
// instance's own start (MIDI from the plugin before comes during run);
// outputs their whole capacity. Only the instances that run are refilled: a
// period costs nothing that grows with the instances prepared, and the
// notes are made again only where an instance started at another time than
// the one before it.
void refill_events(PluginLoad* load, uint32_t first, uint32_t end);
