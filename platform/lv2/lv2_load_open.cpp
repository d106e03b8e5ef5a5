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
void make_options(PluginLoad* load, LinkPlan* link) {
    UridMap* urids = &load->host->urids;
    LV2_URID int_type = urid_of(urids, LV2_ATOM__Int);
    link->rate_value = static_cast<float>(load->rate);
    link->block_value = static_cast<int32_t>(load->frames);
    link->sequence_value = static_cast<int32_t>(link->atom_bytes);
    auto option = [&](const char* key, uint32_t size, LV2_URID type, const void* value) {
        return LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, urid_of(urids, key), size, type, value};
    };
    link->options[0] = option(LV2_PARAMETERS__sampleRate, sizeof(float),
                              urid_of(urids, LV2_ATOM__Float), &link->rate_value);
    link->options[1] =
        option(LV2_BUF_SIZE__minBlockLength, sizeof(int32_t), int_type, &link->block_value);
    link->options[2] =
        option(LV2_BUF_SIZE__maxBlockLength, sizeof(int32_t), int_type, &link->block_value);
    link->options[3] =
        option(LV2_BUF_SIZE__nominalBlockLength, sizeof(int32_t), int_type, &link->block_value);
    link->options[4] =
        option(LV2_BUF_SIZE__sequenceSize, sizeof(int32_t), int_type, &link->sequence_value);
    link->options[5] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    link->options_feature = LV2_Feature{LV2_OPTIONS__options, link->options};
}

// The plan's wiring applied to its links; the words.
std::string wire(PluginLoad* load, bool notes_to_any_midi) {
    std::vector<WiringPorts> chain;
    for (const LinkPlan& link : load->plan) {
        const ChainLink& f = link.facts;
        chain.push_back(WiringPorts{f.name, f.audio_in, f.side_chain_in, f.audio_out, f.cv_in,
                                    f.cv_out, f.midi_in, f.midi_out, f.takes_notes});
    }
    Wiring wiring = plan_wiring(chain, notes_to_any_midi);
    for (size_t s = 0; s < load->plan.size(); ++s) {
        LinkPlan& link = load->plan[s];
        link.wired = wiring.links[s];
        link.facts.gets_notes = link.wired.gets_notes;
        link.facts.gets_midi_before = link.wired.midi_from_before;
        load->notes = load->notes || link.wired.gets_notes;
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
    const LinkPlan& link = load->plan[s];
    StageInstance* stage = instance->stages[s].get();
    float* audio = instance->audio.data();
    for (uint32_t p = 0; p < link.ports.size(); ++p) {
        const PortPlan& port = link.ports[p];
        void* buffer = nullptr;
        switch (port.kind) {
        case PORT_AUDIO: {
            const uint32_t channel = port.output       ? link.wired.first_output + port.channel
                                     : port.side_chain ? SILENT_CHANNEL
                                                       : link.wired.input_source[port.channel];
            buffer = audio + static_cast<size_t>(channel) * load->frames;
            break;
        }
        case PORT_CONTROL:
            buffer = &stage->controls[p];
            break;
        case PORT_ATOM:
            buffer = stage->atoms.data() + static_cast<size_t>(port.channel) * link.atom_bytes / 8;
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

// Instantiates link s of one instance, restores its states and applies the
// settings; false with a line when the plugin will not start.
bool instantiate(PluginLoad* load, uint32_t index, uint32_t s, PluginWorkerSlot* slot,
                 std::string* error) {
    LinkPlan& link = load->plan[s];
    Instance& instance = load->instances[index];
    auto stage = std::make_unique<StageInstance>();
    stage->controls.resize(link.ports.size());
    for (size_t p = 0; p < link.ports.size(); ++p) {
        stage->controls[p] = link.ports[p].kind == PORT_CONTROL ? link.ports[p].value : 0.0f;
    }
    stage->atoms.assign(static_cast<size_t>(link.atom_ports) * link.atom_bytes / 8, 0);
    stage->cv.resize(static_cast<size_t>(link.facts.cv_in) * load->frames);
    for (const PortPlan& port : link.ports) {
        if (port.kind == PORT_CV && !port.output) {
            std::fill_n(stage->cv.begin() + static_cast<ptrdiff_t>(port.channel) * load->frames,
                        load->frames, port.value);
        }
    }
    stage->features = {&load->map_feature,          &load->unmap_feature, &link.options_feature,
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
    stage->instance = lilv_plugin_instantiate(link.plugin, load->rate, stage->features.data());
    if (stage->instance == nullptr) {
        const std::string problem = library_problem(link.plugin);
        *error =
            link.facts.name + (problem.empty() ? " would not start (lilv could not instantiate it)"
                                               : " cannot be hosted: " + problem);
        return false;
    }
    keep_library(link.plugin);
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
    for (LinkPlan& link : load->plan) {
        std::string missing;
        if (!plugin_hostable(load->host, link.plugin, load->frames, &missing)) {
            *error = link.facts.name + " cannot be hosted: it requires " + missing;
            return false;
        }
        link.facts.hard_rt_capable = lilv_plugin_has_feature(link.plugin, n.hard_rt);
        link.facts.has_worker = lilv_plugin_has_extension_data(link.plugin, n.worker_interface) ||
                                lilv_plugin_has_feature(link.plugin, n.worker_schedule);
        make_options(load, &link);
    }
    return true;
}

void fill_facts(const PluginLoad* load, const PluginLoadOrder* order, PluginLoadFacts* facts) {
    for (const LinkPlan& link : load->plan) {
        facts->chain.push_back(link.facts);
    }
    facts->input = input_text(order, load->plan.front().facts.audio_in);
    facts->outputs = load->plan.back().facts.audio_out;
    uint64_t bytes = static_cast<uint64_t>(load->channels) * load->frames * sizeof(float);
    for (const LinkPlan& link : load->plan) {
        bytes += static_cast<uint64_t>(link.atom_ports) * link.atom_bytes +
                 (link.ports.size() + static_cast<uint64_t>(link.facts.cv_in) * load->frames) *
                     sizeof(float) +
                 (link.facts.has_worker ? 2 : 0) * PLUGIN_WORKER_RING_BYTES;
    }
    facts->bytes_per_instance = bytes;
    for (const Setting& setting : load->settings) {
        const LinkPlan& link = load->plan[setting.link];
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(setting.value));
        facts->notes.push_back(link.facts.name + ": " + link.ports[setting.port].symbol +
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
    uint32_t plugin_worker_links = 0;
    for (const LinkPlan& link : load->plan) {
        plugin_worker_links += link.facts.has_worker ? 1 : 0;
    }
    load->slots = std::make_unique<PluginWorkerSlot[]>(static_cast<size_t>(plugin_worker_links) *
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
