// The mix worker: 64 tracks scaled and added into a bus, block after block.
#include "engine/measure_state.h"
#include "engine/workers.h"

namespace {
constexpr uint32_t BUS_BYTES = TRACK_SAMPLES * sizeof(float);
constexpr uint32_t BLOCK_BYTES = BLOCK_SAMPLES * sizeof(float);

void free_mix_buffers(MixBus* mix) {
    platform_free(mix->bus);
    for (float* track : mix->tracks) {
        platform_free(track);
    }
}

// Allocates the bus, then every track even after one has failed; on any
// failure frees what was obtained and returns false.
bool allocate_mix_buffers(MixBus* mix) {
    mix->bus = static_cast<float*>(platform_alloc(BUS_BYTES));
    if (mix->bus == nullptr) {
        return false;
    }
    bool complete = true;
    for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
        mix->gains[t] = TRACK_GAIN;
        mix->tracks[t] = static_cast<float*>(platform_alloc(BUS_BYTES));
        complete = complete && mix->tracks[t] != nullptr;
    }
    if (!complete) {
        free_mix_buffers(mix);
    }
    return complete;
}
} // namespace

void mix_next_block(MixBus* mix) {
    const uint32_t offset = mix->position * BLOCK_SAMPLES;
    clear_block(mix->bus + offset, BLOCK_BYTES);
    for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
        MixTrackBlock block{mix->bus + offset, mix->tracks[t] + offset, mix->gains[t]};
        mix_add(&block, BLOCK_SAMPLES);
    }
    mix->position += 1;
    if (mix->position == BUS_BLOCKS) {
        mix->position = 0;
    }
}

uint32_t mix_worker(void* /*parameter*/) {
    MixBus mix{};
    if (!allocate_mix_buffers(&mix)) {
        return 0;
    }
    fill_tracks(mix.tracks);

    TimedLoop loop = run_timed_loop([&mix] { mix_next_block(&mix); });

    MixResult* result = &measure_state.mix_result;
    result->finished = 1;
    free_mix_buffers(&mix);

    int64_t elapsed_ms = 0;
    if (close_timed_loop(&measure_state.mix_trace, loop.blocks, loop.start, loop.end,
                         &elapsed_ms)) {
        uint64_t work = static_cast<uint64_t>(loop.blocks) * MIX_BLOCK_WORK;
        result->tracks_44100 = units_per_sample_period(work, elapsed_ms, SAMPLE_RATE_44100);
        result->tracks_48000 = units_per_sample_period(work, elapsed_ms, SAMPLE_RATE_48000);
        result->mfloats_per_s = mfloats_per_second(work, elapsed_ms);
    }
    return 0;
}
