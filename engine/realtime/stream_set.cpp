#include "engine/realtime/stream_set.h"

#include "engine/measure_state.h"
#include "engine/realtime/best_round.h"
#include "engine/realtime/plugin_cost.h"
#include "engine/workers.h"
#include "platform/platform_engine.h"

#include <cstring>

namespace {
// Streams start at different places of the test signal.
constexpr uint32_t STREAM_OFFSET_STRIDE = 331;
// Kernel calls between two readings of the clock in the kernel-alone timing.
constexpr uint32_t KERNEL_UNITS_PER_READING = 16;

template <typename Sample>
bool prepare_filters(StreamSet* set, CircularFilter<Sample>** filters, void (*fill)(Sample*),
                     Sample feedback, Sample gain) {
    auto* table = static_cast<Sample*>(platform_alloc(TABLE_SAMPLES * sizeof(Sample)));
    *filters = static_cast<CircularFilter<Sample>*>(
        platform_alloc(size_t{set->capacity} * sizeof(CircularFilter<Sample>)));
    set->blocks = platform_alloc(size_t{set->capacity} * 2 * set->frames * sizeof(Sample));
    if (table == nullptr || *filters == nullptr || set->blocks == nullptr) {
        platform_free(table);
        return false;
    }
    fill(table);
    const uint32_t frames = set->frames;
    for (uint32_t s = 0; s < set->capacity; ++s) {
        Sample* input = static_cast<Sample*>(set->blocks) + size_t{s} * 2 * frames;
        Sample* output = input + frames;
        uint32_t offset = (s * STREAM_OFFSET_STRIDE) % (TABLE_SAMPLES - frames);
        std::memcpy(input, table + offset, frames * sizeof(Sample));
        std::memset(static_cast<void*>(output), 0, frames * sizeof(Sample));
        (*filters)[s] = CircularFilter<Sample>{};
        setup_filter(&(*filters)[s], input, output, feedback, gain, frames);
    }
    platform_free(table);
    return true;
}

template <typename Sample> void restart_filters(CircularFilter<Sample>* filters, uint32_t end) {
    for (uint32_t s = 0; s < end; ++s) {
        CircularFilter<Sample>& filter = filters[s];
        filter.state = Sample{};
        filter.in_pos = filter.in_start;
        filter.out_pos = filter.out_start;
        std::memset(static_cast<void*>(filter.out_start), 0,
                    static_cast<size_t>(filter.out_end - filter.out_start) * sizeof(Sample));
    }
}

void run_mix(StreamSet* set, uint32_t first, uint32_t end) {
    if (first == 0) {
        clear_block(set->bus, set->frames * static_cast<uint32_t>(sizeof(float)));
    }
    for (uint32_t s = first; s < end; ++s) {
        MixTrackBlock block{set->bus, set->mix->tracks[s % MIX_TRACKS] + set->mix_position,
                            TRACK_GAIN};
        mix_add(&block, set->frames);
    }
}
} // namespace

bool mix_data_prepare(MixData* data) {
    *data = MixData{};
    bool complete = true;
    for (float*& track : data->tracks) {
        track = static_cast<float*>(platform_alloc(TRACK_SAMPLES * sizeof(float)));
        complete = complete && track != nullptr;
    }
    if (!complete) {
        mix_data_free(data);
        return false;
    }
    fill_tracks(data->tracks);
    return true;
}

void mix_data_free(MixData* data) {
    for (float*& track : data->tracks) {
        platform_free(track);
        track = nullptr;
    }
}

uint64_t stream_bytes(RtTestKind test, uint32_t frames) {
    switch (test) {
    case RT_ZEM1:
        return sizeof(IntFilter) + uint64_t{2} * frames * sizeof(int32_t);
    case RT_ZEM2:
        return sizeof(FloatFilter) + uint64_t{2} * frames * sizeof(float);
    case RT_ZEMM:
        return 0; // the tracks are shared; the bus is the set's
    case RT_PLUGINS:
        return 0; // the plugins' own: bounded by the instances asked for
    }
    return 0;
}

bool stream_set_prepare(StreamSet* set, RtTestKind test, uint32_t frames, uint32_t capacity,
                        const MixData* mix) {
    *set = StreamSet{};
    set->test = test;
    set->frames = frames;
    set->capacity = capacity;
    set->mix = mix;
    bool ready = false;
    if (test == RT_ZEM1) {
        ready = prepare_filters<int32_t>(set, &set->int_filters, fill_int_signal,
                                         q15_from_factor(FEEDBACK_FACTOR),
                                         q15_from_factor(GAIN_FACTOR));
    } else if (test == RT_ZEM2) {
        ready = prepare_filters<float>(set, &set->float_filters, fill_float_signal, FEEDBACK_FACTOR,
                                       GAIN_FACTOR);
    } else {
        set->bus = static_cast<float*>(platform_alloc(frames * sizeof(float)));
        ready = set->bus != nullptr && mix != nullptr && frames <= TRACK_SAMPLES;
        if (ready) {
            std::memset(set->bus, 0, frames * sizeof(float));
        }
    }
    if (!ready) {
        stream_set_free(set);
    }
    return ready;
}

bool stream_set_prepare_plugins(StreamSet* set, PluginHost* host, const PluginLoadOrder* order,
                                uint32_t frames, uint32_t rate, uint32_t capacity,
                                std::string* error) {
    *set = StreamSet{};
    set->test = RT_PLUGINS;
    set->frames = frames;
    set->capacity = capacity;
    PluginLoadOrder instances = *order;
    instances.frames = frames;
    instances.rate = rate;
    instances.instances = capacity;
    instances.instance_allowance_ms = STAGE_OPEN_MS;
    PluginLoadFacts facts;
    set->plugins = plugin_load_open(host, &instances, &facts, error);
    return set->plugins != nullptr;
}

bool stream_set_prime(StreamSet* set, uint32_t wait_ms) {
    plugin_load_run(set->plugins, 0, set->capacity);
    plugin_load_finish_period(set->plugins, set->capacity);
    uint32_t waited = 0;
    while (!plugin_load_worker(set->plugins).idle && waited < wait_ms) {
        platform_sleep_ms(1);
        waited += 1;
    }
    plugin_load_run(set->plugins, 0, set->capacity);
    plugin_load_finish_period(set->plugins, set->capacity);
    return waited < wait_ms;
}

void stream_set_free(StreamSet* set) {
    if (set->plugins != nullptr) {
        plugin_load_close(set->plugins);
    }
    platform_free(set->int_filters);
    platform_free(set->float_filters);
    platform_free(set->blocks);
    platform_free(set->bus);
    *set = StreamSet{};
}

void stream_set_run(StreamSet* set, uint32_t first, uint32_t end) {
    end = end < set->capacity ? end : set->capacity; // never past what was prepared
    switch (set->test) {
    case RT_ZEM1:
        for (uint32_t s = first; s < end; ++s) {
            filter_int(&set->int_filters[s], set->frames);
        }
        break;
    case RT_ZEM2:
        for (uint32_t s = first; s < end; ++s) {
            filter_float(&set->float_filters[s], set->frames);
        }
        break;
    case RT_ZEMM:
        run_mix(set, first, end);
        break;
    case RT_PLUGINS:
        plugin_load_run(set->plugins, first, end);
        break;
    }
}

void stream_set_finish_period(StreamSet* set, uint32_t end) {
    if (set->test == RT_PLUGINS) {
        plugin_load_finish_period(set->plugins, end);
        return;
    }
    if (set->test != RT_ZEMM) {
        return;
    }
    set->mix_position += set->frames;
    if (set->mix_position + set->frames > TRACK_SAMPLES) {
        set->mix_position = 0;
    }
}

void stream_set_restart(StreamSet* set, uint32_t end) {
    end = end < set->capacity ? end : set->capacity;
    switch (set->test) {
    case RT_ZEM1:
        restart_filters(set->int_filters, end);
        break;
    case RT_ZEM2:
        restart_filters(set->float_filters, end);
        break;
    case RT_ZEMM:
        set->mix_position = 0;
        std::memset(set->bus, 0, set->frames * sizeof(float));
        break;
    case RT_PLUGINS:
        plugin_load_restart(set->plugins, 0, end);
        break;
    }
}

double kernel_ns_per_sample(RtTestKind test, uint32_t frames, const MixData* mix,
                            int64_t (*now_ns)(), uint32_t repeats, int64_t round_ns) {
    StreamSet set{};
    if (!stream_set_prepare(&set, test, frames, 1, mix)) {
        return 0.0;
    }
    const RoundPlan rounds{now_ns, 0, repeats, round_ns, KERNEL_UNITS_PER_READING, frames};
    uint64_t timed = 0;
    const double best = best_round_ns(
        &rounds,
        [&set, test, mix, frames] {
            if (test == RT_ZEMM) {
                // The kernel alone: one track into the bus, no clearing.
                MixTrackBlock block{set.bus, mix->tracks[0], TRACK_GAIN};
                mix_add(&block, frames);
            } else {
                stream_set_run(&set, 0, 1);
            }
        },
        &timed);
    stream_set_free(&set);
    return best;
}
