#include "bench/benchmarks.h"

#include "bench/chains.h"
#include "bench/mix_reference.h"
#include "engine/measure_state.h"
#include "engine/workers.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
template <typename Sample> struct FilterRings {
    std::vector<Sample> input = std::vector<Sample>(TABLE_SAMPLES);
    std::vector<Sample> output = std::vector<Sample>(TABLE_SAMPLES);
    CircularFilter<Sample> filter{};
};

FilterRings<int32_t>* int_rings() {
    static FilterRings<int32_t> rings;
    static bool ready = false;
    if (!ready) {
        fill_int_signal(rings.input.data());
        int32_t q15 = q15_from_factor(FEEDBACK_FACTOR);
        setup_filter(&rings.filter, rings.input.data(), rings.output.data(), q15, q15);
        ready = true;
    }
    return &rings;
}

FilterRings<float>* float_rings() {
    static FilterRings<float> rings;
    static bool ready = false;
    if (!ready) {
        fill_float_signal(rings.input.data());
        setup_filter(&rings.filter, rings.input.data(), rings.output.data(), FEEDBACK_FACTOR,
                     GAIN_FACTOR);
        ready = true;
    }
    return &rings;
}

// The mix test's buffers, allocated one by one as the worker does, built
// once and kept for the whole program.
MixBus* mix_bus() {
    static MixBus mix{};
    if (mix.bus == nullptr) {
        const size_t bytes = TRACK_SAMPLES * sizeof(float);
        mix.bus = static_cast<float*>(platform_alloc(bytes));
        for (uint32_t t = 0; t < MIX_TRACKS; ++t) {
            mix.tracks[t] = static_cast<float*>(platform_alloc(bytes));
            mix.gains[t] = TRACK_GAIN;
            if (mix.bus == nullptr || mix.tracks[t] == nullptr) {
                std::fprintf(stderr, "out of memory for the mix buffers\n");
                std::exit(1);
            }
        }
        fill_tracks(mix.tracks);
    }
    return &mix;
}

// Runs a dependent chain from `start`: each step takes the previous value.
template <typename Value, typename Step>
void run_chain(benchmark::State& state, Value start, Step step) {
    Value value = start;
    for (auto _ : state) {
        value = step(value);
    }
    benchmark::DoNotOptimize(value);
}

void bench_chain_add(benchmark::State& state) {
    run_chain(state, 0u, [](uint32_t v) { return chain_add(v); });
}

void bench_chain_imul(benchmark::State& state) {
    run_chain(state, 1u, [](uint32_t v) { return chain_imul(v, 16383); });
}

void bench_chain_sar(benchmark::State& state) {
    run_chain(state, 0x7fffffffu, [](uint32_t v) { return chain_sar(v); });
}

// Factor 1 and term 0 keep the value normal: no denormal slows the chain.
void bench_chain_mulss(benchmark::State& state) {
    run_chain(state, 1.0f, [](float v) { return chain_mulss(v, 1.0f); });
}

void bench_chain_addss(benchmark::State& state) {
    run_chain(state, 1.0f, [](float v) { return chain_addss(v, 0.0f); });
}

void bench_chain_filter_int(benchmark::State& state) {
    run_chain(state, int32_t{0}, [](int32_t v) { return chain_filter_int(v, 16383, 1000); });
}

void bench_chain_filter_float(benchmark::State& state) {
    run_chain(state, 0.0f, [](float v) { return chain_filter_float(v, 0.5f, 0.25f); });
}

void bench_chain_filter_int_output(benchmark::State& state) {
    run_chain(state, int32_t{0},
              [](int32_t v) { return chain_filter_int_output(v, 16383, 1000, 16383); });
}

void bench_chain_filter_float_output(benchmark::State& state) {
    float value = 0.0f;
    float sink = 0.0f;
    for (auto _ : state) {
        value = chain_filter_float_output(value, 0.5f, 0.25f, 0.5f, &sink);
    }
    benchmark::DoNotOptimize(value);
    benchmark::DoNotOptimize(sink);
}

void bench_filter_int(benchmark::State& state) {
    IntFilter* filter = &int_rings()->filter;
    for (auto _ : state) {
        filter_int(filter, BLOCK_SAMPLES);
    }
}

void bench_filter_float(benchmark::State& state) {
    FloatFilter* filter = &float_rings()->filter;
    for (auto _ : state) {
        filter_float(filter, BLOCK_SAMPLES);
    }
}

// One block of one track into one bus block, both in the first-level cache.
void bench_mix_add(benchmark::State& state) {
    MixBus* mix = mix_bus();
    MixTrackBlock block{mix->bus, mix->tracks[1], TRACK_GAIN};
    for (auto _ : state) {
        mix_add(&block, BLOCK_SAMPLES);
    }
    clear_block(mix->bus, BLOCK_SAMPLES * sizeof(float));
}

void bench_clear_block(benchmark::State& state) {
    float* block = mix_bus()->bus;
    for (auto _ : state) {
        clear_block(block, BLOCK_SAMPLES * sizeof(float));
    }
}

void bench_mix_block(benchmark::State& state) {
    MixBus* mix = mix_bus();
    for (auto _ : state) {
        mix_next_block(mix);
    }
}

void bench_mix_reference(benchmark::State& state) {
    MixBus* mix = mix_bus();
    float kept = 0.0f;
    for (auto _ : state) {
        kept += mix_reference_block(mix);
    }
    benchmark::DoNotOptimize(kept);
    for (uint32_t p = 0; p < BUS_BLOCKS; ++p) {
        clear_block(mix->bus + p * BLOCK_SAMPLES, BLOCK_SAMPLES * sizeof(float));
    }
}

void bench_yield(benchmark::State& state) {
    for (auto _ : state) {
        platform_yield();
    }
}

// The engine's own timed loop (flag load, unit, count, yield), stopped by
// its unit after `blocks` blocks.
template <typename Unit> void run_loop(benchmark::State& state, uint32_t blocks, Unit unit) {
    for (auto _ : state) {
        uint32_t left = blocks;
        measure_state.running.store(1);
        TimedLoop loop = run_timed_loop([&left, &unit] {
            unit();
            if (--left == 0) {
                measure_state.running.store(0, std::memory_order_relaxed);
            }
        });
        benchmark::DoNotOptimize(loop);
    }
}

void bench_loop_filter_int(benchmark::State& state) {
    IntFilter* filter = &int_rings()->filter;
    run_loop(state, LOOP_FILTER_BLOCKS, [filter] { filter_int(filter, BLOCK_SAMPLES); });
}

void bench_loop_filter_float(benchmark::State& state) {
    FloatFilter* filter = &float_rings()->filter;
    run_loop(state, LOOP_FILTER_BLOCKS, [filter] { filter_float(filter, BLOCK_SAMPLES); });
}

void bench_loop_mix(benchmark::State& state) {
    MixBus* mix = mix_bus();
    run_loop(state, LOOP_MIX_BLOCKS, [mix] { mix_next_block(mix); });
}

void bench_mix_preparation(benchmark::State& state) {
    measure_state.running.store(0);
    for (auto _ : state) {
        mix_worker(nullptr);
    }
}

void add(const char* name, void (*function)(benchmark::State&)) {
    benchmark::RegisterBenchmark(name, function)->Unit(benchmark::kNanosecond);
}
} // namespace

void register_benchmarks() {
    if (chains_available()) {
        add(CHAIN_ADD, bench_chain_add);
        add(CHAIN_IMUL, bench_chain_imul);
        add(CHAIN_SAR, bench_chain_sar);
        add(CHAIN_MULSS, bench_chain_mulss);
        add(CHAIN_ADDSS, bench_chain_addss);
        add(CHAIN_FILTER_INT, bench_chain_filter_int);
        add(CHAIN_FILTER_FLOAT, bench_chain_filter_float);
        add(CHAIN_FILTER_INT_OUTPUT, bench_chain_filter_int_output);
        add(CHAIN_FILTER_FLOAT_OUTPUT, bench_chain_filter_float_output);
    }
    // Each figure compared with another is measured right after it, so
    // that a drift of the shared machine touches both alike.
    add(KERNEL_FILTER_INT, bench_filter_int);
    add(LOOP_FILTER_INT, bench_loop_filter_int);
    add(KERNEL_FILTER_FLOAT, bench_filter_float);
    add(LOOP_FILTER_FLOAT, bench_loop_filter_float);
    add(YIELD, bench_yield);
    add(KERNEL_MIX_ADD, bench_mix_add);
    add(KERNEL_CLEAR_BLOCK, bench_clear_block);
    add(MIX_BLOCK, bench_mix_block);
    add(LOOP_MIX, bench_loop_mix);
    add(MIX_REFERENCE, bench_mix_reference);
    add(MIX_PREPARATION, bench_mix_preparation);
}
