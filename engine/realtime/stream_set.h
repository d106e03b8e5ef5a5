// The streams of the real-time mode, one set per measuring thread.
//
// ZEM-1 and ZEM-2: each stream is one CircularFilter, run by the same
// compiled kernel as the throughput tests (filter_int, filter_float), with
// its own state and its own input and output blocks of one period's samples:
// its rings are exactly one block long, so one call of B samples reads the
// whole input block, writes the whole output block and leaves the positions
// where they started, while the state carries on from period to period.
//
// ZEM-M: each stream is one track of the prepared 64-track data (stream s
// reads track s mod 64), B samples of it scaled and added with mix_add into
// the set's bus block, which clear_block empties once per period; the read
// position walks through the tracks as the mix test does, wrapping at their
// end.
//
// A chain of plugins (RT_PLUGINS): each stream is one instance of the
// chain, a track, with its own buffers (platform_plugins.h).
//
// All memory is allocated and written before timing.
#pragma once

#include "engine/circular_filter.h"
#include "engine/signals.h"
#include "engine/test_names.h"
#include "platform/platform_plugins.h"

#include <cstdint>
#include <string>

enum RtTestKind : uint32_t { RT_ZEM1 = 0, RT_ZEM2 = 1, RT_ZEMM = 2, RT_PLUGINS = 3 };
constexpr uint32_t RT_TESTS = ZEM_TESTS; // RT_PLUGINS is a kind of load, not a test

// The 64 tracks, prepared once and read by every set.
struct MixData {
    float* tracks[MIX_TRACKS];
};
bool mix_data_prepare(MixData* data);
void mix_data_free(MixData* data);

struct StreamSet {
    RtTestKind test;
    uint32_t frames;
    uint32_t capacity; // streams prepared
    IntFilter* int_filters;
    FloatFilter* float_filters;
    void* blocks; // per stream: input block, then output block
    const MixData* mix;
    float* bus;
    uint32_t mix_position; // first track sample read in this period
    PluginLoad* plugins;   // RT_PLUGINS: `capacity` instances of the chain
};

// Bytes one stream of `test` needs at `frames` samples per period.
uint64_t stream_bytes(RtTestKind test, uint32_t frames);

// Allocates and fills a set; false (nothing left allocated) when memory is
// short.
bool stream_set_prepare(StreamSet* set, RtTestKind test, uint32_t frames, uint32_t capacity,
                        const MixData* mix);
// A set of `capacity` instances of a chain of plugins; false with one line
// in `error` when the load will not open.
bool stream_set_prepare_plugins(StreamSet* set, PluginHost* host, const PluginLoadOrder* order,
                                uint32_t frames, uint32_t rate, uint32_t capacity,
                                std::string* error);
// Runs a chain's instances once, waits until their worker has done what
// that asked (a kit, a response loaded; at most `wait_ms`), and runs them
// once more to hand them the answers: a session plays once it has loaded,
// and no trial may time instances that have not. False when the worker was
// still busy at the end of the wait.
bool stream_set_prime(StreamSet* set, uint32_t wait_ms);
void stream_set_free(StreamSet* set);

// One period of streams [first, end): the mix clears its bus when first is 0
// before mixing; stream_set_finish_period then moves the mix on, and
// readies the first `end` instances of a chain for the next period.
void stream_set_run(StreamSet* set, uint32_t first, uint32_t end);
void stream_set_finish_period(StreamSet* set, uint32_t end);

// Between trials, never in a period: the first `end` streams start again as
// if just prepared, together. Filters get their state and positions back and
// an empty output block; the mix reads the tracks from their start into an
// empty bus; a chain's instances are deactivated and activated
// (plugin_load_restart).
void stream_set_restart(StreamSet* set, uint32_t end);

// Best time per sample, in nanoseconds, of the kernel alone on one stream
// whose data stays in the first-level cache: `repeats` timed rounds of at
// least `round_ns` each. `now_ns` is the clock to time with.
double kernel_ns_per_sample(RtTestKind test, uint32_t frames, const MixData* mix,
                            int64_t (*now_ns)(), uint32_t repeats, int64_t round_ns);
