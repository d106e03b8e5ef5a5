// A load's periods: each instance's chain run one block, the audio summed
// and the MIDI passed between its plugins, the event buffers made ready for
// the next period, instances restarted, and what the periods produced. No
// allocation and no set-up here: everything was made in load_open.
#include "platform/lv2/lv2_load.h"

#include <lv2/atom/util.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {
// Stereo into mono: the outputs beyond the inputs summed into the last
// input's own channel.
void sum_channels(const PluginLoad* load, Instance* instance, const WiredLink& wired) {
    const size_t frames = load->frames;
    float* audio = instance->audio.data();
    float* sum = audio + static_cast<size_t>(wired.input_source.back()) * frames;
    const float* first = audio + static_cast<size_t>(wired.sum_first) * frames;
    std::copy_n(first, frames, sum);
    for (uint32_t c = 1; c < wired.sum_count; ++c) {
        const float* more = first + c * frames;
        for (size_t i = 0; i < frames; ++i) {
            sum[i] += more[i];
        }
    }
}

LV2_Atom_Sequence* sequence_of(const PluginLoad* load, Instance* instance, uint32_t link,
                               uint32_t channel) {
    const LinkPlan& plan = load->plan[link];
    return reinterpret_cast<LV2_Atom_Sequence*>(instance->stages[link]->atoms.data() +
                                                static_cast<size_t>(channel) * plan.atom_bytes / 8);
}

// The MIDI events link `from` wrote, into the next link's MIDI input, as
// many as fit; the rest of what it wrote stays behind.
void pass_midi(const PluginLoad* load, Instance* instance, uint32_t from) {
    const LV2_Atom_Sequence* out = sequence_of(load, instance, from, load->plan[from].midi_output);
    const LinkPlan& next = load->plan[from + 1];
    LV2_Atom_Sequence* in = sequence_of(load, instance, from + 1, next.midi_input);
    in->atom.type = load->sequence_type;
    in->atom.size = sizeof(LV2_Atom_Sequence_Body);
    in->body.unit = 0;
    in->body.pad = 0;
    const uint32_t room = next.atom_bytes - static_cast<uint32_t>(sizeof(LV2_Atom));
    if (out->atom.type != load->sequence_type ||
        out->atom.size + sizeof(LV2_Atom) > load->plan[from].atom_bytes) {
        return; // it wrote nothing, or not a sequence we can read
    }
    LV2_ATOM_SEQUENCE_FOREACH(out, event) {
        if (event->body.type != load->note_types.midi) {
            continue;
        }
        const uint32_t size = lv2_atom_pad_size(sizeof(LV2_Atom_Event) + event->body.size);
        if (in->atom.size + size > room) {
            break;
        }
        std::memcpy(reinterpret_cast<uint8_t*>(&in->body) + in->atom.size, event,
                    sizeof(LV2_Atom_Event) + event->body.size);
        in->atom.size += size;
    }
}
} // namespace

void refill_events(PluginLoad* load, uint32_t first, uint32_t end) {
    const auto* notes = reinterpret_cast<const LV2_Atom_Sequence*>(load->note_template.data());
    const size_t count = end < load->instances.size() ? end : load->instances.size();
    for (size_t i = first; i < count; ++i) {
        Instance& instance = load->instances[i];
        uint64_t at = load->position - instance.origin;
        if (load->notes && at != load->template_at) {
            write_notes(load->note_template.data(), &load->note_types, at, load->frames,
                        load->rate);
            load->template_at = at;
        }
        for (size_t s = 0; s < load->plan.size(); ++s) {
            const LinkPlan& link = load->plan[s];
            uint64_t* atoms = instance.stages[s]->atoms.data();
            for (const PortPlan& port : link.ports) {
                if (port.kind != PORT_ATOM) {
                    continue;
                }
                auto* atom = reinterpret_cast<LV2_Atom_Sequence*>(
                    atoms + static_cast<size_t>(port.channel) * link.atom_bytes / 8);
                if (port.output) {
                    atom->atom.type = load->chunk_type;
                    atom->atom.size = link.atom_bytes - static_cast<uint32_t>(sizeof(LV2_Atom));
                } else if (link.wired.gets_notes && port.channel == link.midi_input) {
                    std::memcpy(atom, notes, sizeof(LV2_Atom) + notes->atom.size);
                } else {
                    atom->atom.type = load->sequence_type;
                    atom->atom.size = sizeof(LV2_Atom_Sequence_Body);
                    atom->body.unit = 0;
                    atom->body.pad = 0;
                }
            }
        }
    }
}

void plugin_load_run_link(PluginLoad* load, uint32_t instance, uint32_t link) {
    Instance& ours = load->instances[instance];
    const LinkPlan& plan = load->plan[link];
    if (plan.wired.sum_count > 0) {
        sum_channels(load, &ours, plan.wired);
    }
    StageInstance* stage = ours.stages[link].get();
    lilv_instance_run(stage->instance, load->frames);
    if (stage->deliver != nullptr) {
        plugin_worker_deliver(stage->deliver, load->response_scratch.get());
    }
    if (link + 1 < load->plan.size() && load->plan[link + 1].wired.midi_from_before) {
        pass_midi(load, &ours, link);
    }
}

void plugin_load_run(PluginLoad* load, uint32_t first, uint32_t end) {
    auto links = static_cast<uint32_t>(load->plan.size());
    for (uint32_t i = first; i < end; ++i) {
        for (uint32_t s = 0; s < links; ++s) {
            plugin_load_run_link(load, i, s);
        }
    }
}

uint32_t plugin_load_links(const PluginLoad* load) {
    return static_cast<uint32_t>(load->plan.size());
}

void plugin_load_finish_period(PluginLoad* load, uint32_t end) {
    load->position += load->frames;
    refill_events(load, 0, end);
}

void plugin_load_restart(PluginLoad* load, uint32_t first, uint32_t end) {
    end = std::min(end, static_cast<uint32_t>(load->instances.size()));
    {
        // The plugin worker calls no work() meanwhile: activate and
        // deactivate may not overlap any other call of the instance.
        std::lock_guard<std::mutex> serving(load->plugin_worker.serving);
        for (uint32_t i = first; i < end; ++i) {
            Instance& instance = load->instances[i];
            for (auto& stage : instance.stages) {
                if (stage->active) {
                    lilv_instance_deactivate(stage->instance);
                }
                if (stage->slot != nullptr) {
                    plugin_worker_slot_clear(stage->slot);
                }
                lilv_instance_activate(stage->instance);
                stage->active = true;
            }
            instance.origin = load->position;
        }
    }
    refill_events(load, first, end);
}

const float* load_link_output(const PluginLoad* load, uint32_t instance, uint32_t link,
                              uint32_t channel) {
    if (instance >= load->instances.size() || link >= load->plan.size() ||
        channel >= load->plan[link].facts.audio_out) {
        return nullptr;
    }
    return load->instances[instance].audio.data() +
           static_cast<size_t>(load->plan[link].wired.first_output + channel) * load->frames;
}

uint32_t load_link_outputs(const PluginLoad* load, uint32_t link) {
    return load->plan[link].facts.audio_out;
}

const float* plugin_load_output(const PluginLoad* load, uint32_t instance, uint32_t channel) {
    return load_link_output(load, instance, static_cast<uint32_t>(load->plan.size() - 1), channel);
}

float* plugin_load_input(PluginLoad* load, uint32_t instance, uint32_t channel) {
    if (instance >= load->instances.size() || channel >= load->plan.front().facts.audio_in) {
        return nullptr;
    }
    return load->instances[instance].audio.data() +
           static_cast<size_t>(FIRST_INPUT_CHANNEL + channel) * load->frames;
}

bool plugin_load_control(const PluginLoad* load, uint32_t instance, uint32_t plugin,
                         const std::string& symbol, float* value) {
    if (instance >= load->instances.size() || plugin >= load->plan.size()) {
        return false;
    }
    const std::vector<PortPlan>& ports = load->plan[plugin].ports;
    for (size_t p = 0; p < ports.size(); ++p) {
        if (ports[p].kind == PORT_CONTROL && ports[p].symbol == symbol) {
            *value = load->instances[instance].stages[plugin]->controls[p];
            return true;
        }
    }
    return false;
}

PluginOutputShape plugin_load_output_shape(const PluginLoad* load, uint32_t instance) {
    if (instance >= load->instances.size()) {
        return PLUGIN_OUTPUT_NONE;
    }
    const LinkPlan& last = load->plan.back();
    return output_shape(load->instances[instance].audio.data(), load->frames,
                        load->plan.front().wired.input_source, last.wired.first_output,
                        last.facts.audio_out);
}
