// A load's set-up: a chain of plugins opened N times, each instance with its
// own buffers, allocated, instantiated, connected, restored and activated in
// load_open, and its plugin worker started; then what it tells of itself
// (its threads, plugin worker and log) and its close. Its periods run in
// lv2_load_run.cpp.
#include "platform/lv2/lv2_load.h"
#include "platform/platform_engine.h"

#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/parameters/parameters.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cstdio>
#include <new>

namespace {
void make_options(PluginLoad* load, StepPlan* step) {
    UridMap* urids = &load->host->urids;
    LV2_URID int_type = urid_of(urids, LV2_ATOM__Int);
    step->rate_value = static_cast<float>(load->rate);
    step->block_value = static_cast<int32_t>(load->frames);
    step->sequence_value = static_cast<int32_t>(step->atom_bytes);
    auto option = [&](const char* key, uint32_t size, LV2_URID type, const void* value) {
        return LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, urid_of(urids, key), size, type, value};
    };
    step->options[0] = option(LV2_PARAMETERS__sampleRate, sizeof(float),
                              urid_of(urids, LV2_ATOM__Float), &step->rate_value);
    step->options[1] =
        option(LV2_BUF_SIZE__minBlockLength, sizeof(int32_t), int_type, &step->block_value);
    step->options[2] =
        option(LV2_BUF_SIZE__maxBlockLength, sizeof(int32_t), int_type, &step->block_value);
    step->options[3] =
        option(LV2_BUF_SIZE__nominalBlockLength, sizeof(int32_t), int_type, &step->block_value);
    step->options[4] =
        option(LV2_BUF_SIZE__sequenceSize, sizeof(int32_t), int_type, &step->sequence_value);
    step->options[5] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    step->options_feature = LV2_Feature{LV2_OPTIONS__options, step->options};
}

// The plan's wiring applied to its steps; the words.
std::string wire(PluginLoad* load, bool notes_to_any_midi) {
    std::vector<WiringPorts> chain;
    for (const StepPlan& step : load->plan) {
        const PluginStep& f = step.facts;
        chain.push_back(WiringPorts{f.name, f.audio_in, f.side_chain_in, f.audio_out, f.cv_in,
                                    f.cv_out, f.midi_in, f.midi_out, f.takes_notes});
    }
    Wiring wiring = plan_wiring(chain, notes_to_any_midi);
    for (size_t s = 0; s < load->plan.size(); ++s) {
        StepPlan& step = load->plan[s];
        step.wired = wiring.steps[s];
        step.facts.gets_notes = step.wired.gets_notes;
        step.facts.gets_midi_before = step.wired.midi_from_before;
        load->notes = load->notes || step.wired.gets_notes;
    }
    load->channels = wiring.channels;
    return wiring.words;
}

void mark(const LoadProgress* progress, PluginStage stage, uint32_t plugin) {
    if (progress != nullptr) {
        progress->mark(progress->context, stage, plugin);
    }
}

void connect(PluginLoad* load, Instance* instance, uint32_t s) {
    const StepPlan& step = load->plan[s];
    StageInstance* stage = instance->stages[s].get();
    float* audio = instance->audio.data();
    for (uint32_t p = 0; p < step.ports.size(); ++p) {
        const PortPlan& port = step.ports[p];
        void* buffer = nullptr;
        switch (port.kind) {
        case PORT_AUDIO: {
            const uint32_t channel = port.output       ? step.wired.first_output + port.channel
                                     : port.side_chain ? SILENT_CHANNEL
                                                       : step.wired.input_source[port.channel];
            buffer = audio + static_cast<size_t>(channel) * load->frames;
            break;
        }
        case PORT_CONTROL:
            buffer = &stage->controls[p];
            break;
        case PORT_ATOM:
            buffer = stage->atoms.data() + static_cast<size_t>(port.channel) * step.atom_bytes / 8;
            break;
        case PORT_CV:
            buffer = port.output
                         ? audio + static_cast<size_t>(SCRATCH_CHANNEL) * load->frames
                         : stage->cv.data() + static_cast<size_t>(port.channel) * load->frames;
            break;
        case PORT_OTHER:
            break;
        }
        lilv_instance_connect_port(stage->instance, p, buffer);
    }
}

// Instantiates step s of one instance, restores its states and applies the
// settings; false with a line when the plugin will not start.
bool instantiate(PluginLoad* load, uint32_t index, uint32_t s, PluginWorkerSlot* slot,
                 std::string* error) {
    StepPlan& step = load->plan[s];
    Instance& instance = load->instances[index];
    auto stage = std::make_unique<StageInstance>();
    stage->controls.resize(step.ports.size());
    for (size_t p = 0; p < step.ports.size(); ++p) {
        stage->controls[p] = step.ports[p].kind == PORT_CONTROL ? step.ports[p].value : 0.0f;
    }
    stage->atoms.assign(static_cast<size_t>(step.atom_ports) * step.atom_bytes / 8, 0);
    stage->cv.resize(static_cast<size_t>(step.facts.cv_in) * load->frames);
    for (const PortPlan& port : step.ports) {
        if (port.kind == PORT_CV && !port.output) {
            std::fill_n(stage->cv.begin() + static_cast<ptrdiff_t>(port.channel) * load->frames,
                        load->frames, port.value);
        }
    }
    stage->features = {&load->map_feature,          &load->unmap_feature, &step.options_feature,
                       &load->bounded_feature,      &load->fixed_feature, &load->log_feature,
                       &load->default_state_feature};
    if ((load->frames & (load->frames - 1)) == 0) {
        stage->features.push_back(&load->power_feature);
    }
    // Restoring gets every feature but the plugin worker's: state is
    // restored before activation, at once, not through the plugin worker.
    std::vector<const LV2_Feature*> restore_features = stage->features;
    restore_features.push_back(nullptr);
    if (slot != nullptr) {
        stage->slot = slot;
        stage->schedule_feature = LV2_Feature{LV2_WORKER__schedule, &slot->schedule};
        stage->features.push_back(&stage->schedule_feature);
    }
    stage->features.push_back(nullptr);
    stage->instance = lilv_plugin_instantiate(step.plugin, load->rate, stage->features.data());
    if (stage->instance == nullptr) {
        const std::string problem = library_problem(step.plugin);
        *error =
            step.facts.name + (problem.empty() ? " would not start (lilv could not instantiate it)"
                                               : " cannot be hosted: " + problem);
        return false;
    }
    keep_library(step.plugin);
    if (slot != nullptr) {
        slot->handle = lilv_instance_get_handle(stage->instance);
        slot->interface = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(stage->instance, LV2_WORKER__interface));
        if (slot->interface != nullptr && slot->interface->work != nullptr) {
            stage->deliver = slot;
            load->plugin_worker.slots.push_back(slot);
        }
    }
    restore_stage(load, s, stage.get(), restore_features.data());
    instance.stages[s] = std::move(stage);
    connect(load, &instance, s);
    return true;
}

// Each plugin of the plan hostable at the block size, with its options;
// false with a line.
bool host_chain(PluginLoad* load, std::string* error) {
    const HostNodes& n = load->host->nodes;
    for (StepPlan& step : load->plan) {
        std::string missing;
        if (!plugin_hostable(load->host, step.plugin, load->frames, &missing)) {
            *error = step.facts.name + " cannot be hosted: it requires " + missing;
            return false;
        }
        step.facts.hard_rt_capable = lilv_plugin_has_feature(step.plugin, n.hard_rt);
        step.facts.has_worker = lilv_plugin_has_extension_data(step.plugin, n.worker_interface) ||
                                lilv_plugin_has_feature(step.plugin, n.worker_schedule);
        make_options(load, &step);
    }
    return true;
}

void fill_facts(const PluginLoad* load, const PluginLoadOrder* order, PluginLoadFacts* facts) {
    for (const StepPlan& step : load->plan) {
        facts->chain.push_back(step.facts);
    }
    facts->input = input_text(order, load->plan.front().facts.audio_in);
    facts->outputs = load->plan.back().facts.audio_out;
    uint64_t bytes = static_cast<uint64_t>(load->channels) * load->frames * sizeof(float);
    for (const StepPlan& step : load->plan) {
        bytes += static_cast<uint64_t>(step.atom_ports) * step.atom_bytes +
                 (step.ports.size() + static_cast<uint64_t>(step.facts.cv_in) * load->frames) *
                     sizeof(float) +
                 (step.facts.has_worker ? 2 : 0) * PLUGIN_WORKER_RING_BYTES;
    }
    facts->bytes_per_instance = bytes;
    for (const Setting& setting : load->settings) {
        const StepPlan& step = load->plan[setting.step];
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(setting.value));
        facts->notes.push_back(step.facts.name + ": " + step.ports[setting.port].symbol +
                               " set to " + value);
    }
}

void close_instances(PluginLoad* load) {
    plugin_worker_stop(&load->plugin_worker);
    for (Instance& instance : load->instances) {
        for (auto& stage : instance.stages) {
            if (stage != nullptr && stage->active) {
                lilv_instance_deactivate(stage->instance);
            }
        }
        for (auto& stage : instance.stages) {
            if (stage != nullptr && stage->instance != nullptr) {
                lilv_instance_free(stage->instance);
            }
        }
    }
    free_states(load);
    delete load;
}

void rearm_stage(const char* stage, const PluginLoadOrder* order) {
    if (order->instance_allowance_ms > 0) {
        platform_child_stage(stage, order->instance_allowance_ms);
    }
}

bool start_instances(PluginLoad* load, const PluginLoadOrder* order, std::string* error,
                     const LoadProgress* progress) {
    uint32_t plugin_worker_steps = 0;
    for (const StepPlan& step : load->plan) {
        plugin_worker_steps += step.facts.has_worker ? 1 : 0;
    }
    load->slots = std::make_unique<PluginWorkerSlot[]>(static_cast<size_t>(plugin_worker_steps) *
                                                       order->instances);
    load->instances.resize(order->instances);
    uint32_t inputs = load->plan.front().facts.audio_in;
    for (uint32_t i = 0; i < order->instances; ++i) {
        Instance& instance = load->instances[i];
        instance.audio.assign(static_cast<size_t>(load->channels) * load->frames, 0.0f);
        instance.stages.resize(load->plan.size());
        for (uint32_t c = 0; c < inputs; ++c) {
            fill_input(instance.audio.data() +
                           static_cast<size_t>(FIRST_INPUT_CHANNEL + c) * load->frames,
                       load->frames, load->rate, order->input, order->seed + i * 1000003ULL + c);
        }
    }
    uint32_t used_slots = 0;
    for (uint32_t s = 0; s < load->plan.size(); ++s) {
        mark(progress, PLUGIN_STAGE_OPEN, s);
        for (uint32_t i = 0; i < order->instances; ++i) {
            PluginWorkerSlot* slot = nullptr;
            if (load->plan[s].facts.has_worker) {
                slot = &load->slots[used_slots++];
                plugin_worker_slot_init(slot, &load->plugin_worker);
            }
            rearm_stage("instantiate", order);
            if (!instantiate(load, i, s, slot, error)) {
                return false;
            }
        }
    }
    for (uint32_t s = 0; s < load->plan.size(); ++s) {
        mark(progress, PLUGIN_STAGE_ACTIVATE, s);
        for (Instance& instance : load->instances) {
            rearm_stage("activate", order);
            lilv_instance_activate(instance.stages[s]->instance);
            instance.stages[s]->active = true;
        }
    }
    refill_events(load, 0, static_cast<uint32_t>(load->instances.size()));
    if (!plugin_worker_start(&load->plugin_worker)) {
        *error = "the worker's thread would not start";
        return false;
    }
    return true;
}
} // namespace

PluginLoad* load_open(PluginHost* host, const PluginLoadOrder* order, PluginLoadFacts* facts,
                      std::string* error, const LoadProgress* progress) {
    *facts = PluginLoadFacts{};
    auto* load = new (std::nothrow) PluginLoad{};
    if (load == nullptr) {
        *error = "out of memory";
        return nullptr;
    }
    load->host = host;
    load->frames = order->frames;
    load->rate = order->rate;
    UridMap* urids = &host->urids;
    load->sequence_type = urid_of(urids, LV2_ATOM__Sequence);
    load->chunk_type = urid_of(urids, LV2_ATOM__Chunk);
    load->note_types = NoteTypes{load->sequence_type, urid_of(urids, LV2_MIDI__MidiEvent)};
    load->map_feature = LV2_Feature{LV2_URID__map, &urids->map};
    load->unmap_feature = LV2_Feature{LV2_URID__unmap, &urids->unmap};
    load->bounded_feature = LV2_Feature{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    load->fixed_feature = LV2_Feature{LV2_BUF_SIZE__fixedBlockLength, nullptr};
    load->power_feature = LV2_Feature{LV2_BUF_SIZE__powerOf2BlockLength, nullptr};
    load->default_state_feature = LV2_Feature{LV2_STATE__loadDefaultState, nullptr};
    log_init(&load->log, urids);
    load->log_feature = LV2_Feature{LV2_LOG__log, &load->log.log};
    plugin_worker_init(&load->plugin_worker);
    load->response_scratch = std::make_unique<uint8_t[]>(PLUGIN_WORKER_RING_BYTES);
    load->note_template.assign(NOTE_BYTES / 8, 0);
    load->template_at = UINT64_MAX;
    mark(progress, PLUGIN_STAGE_OPEN, 0);
    if (order->frames == 0 || order->instances == 0) {
        *error = "a load needs a block size and at least one instance";
        close_instances(load);
        return nullptr;
    }
    if (!plan_order(host, order, &load->plan, &load->settings, error) || !host_chain(load, error) ||
        !plan_states(load, order, facts, error)) {
        close_instances(load);
        return nullptr;
    }
    facts->wiring = wire(load, order->notes_to_any_midi);
    fill_facts(load, order, facts);
    try {
        if (!start_instances(load, order, error, progress)) {
            close_instances(load);
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        *error = "out of memory for " + std::to_string(order->instances) + " instances";
        close_instances(load);
        return nullptr;
    }
    free_states(load);
    return load;
}

PluginLoad* plugin_load_open(PluginHost* host, const PluginLoadOrder* order, PluginLoadFacts* facts,
                             std::string* error) {
    return load_open(host, order, facts, error, nullptr);
}

uint32_t load_threads(const PluginLoad* load) {
    return load->plugin_worker.running ? 1 : 0;
}

PluginWorkerStats plugin_load_worker(const PluginLoad* load) {
    const PluginWorker& plugin_worker = load->plugin_worker;
    return PluginWorkerStats{plugin_worker.jobs.load(),
                             plugin_worker.total_ns.load(),
                             plugin_worker.longest_ns.load(),
                             plugin_worker.refused.load(),
                             plugin_worker.responses.load(),
                             !plugin_worker.running || plugin_worker_idle(&plugin_worker)};
}

std::string plugin_load_log(const PluginLoad* load) {
    return log_text(&load->log);
}

void plugin_load_close(PluginLoad* load) {
    if (load != nullptr) {
        close_instances(load);
    }
}
