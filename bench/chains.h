// Chains of dependent instructions: each step needs the result of the one
// before, so the time per step is the instruction's latency. A chain of
// integer adds (one cycle each on every x86 core) measures the core clock;
// the other chains measure the latencies on the filters' loop-carried path.
#pragma once

#include <cstdint>

constexpr uint32_t CHAIN_STEPS = 1000; // steps per call

// False where the chains are not written (not x86); they then do nothing.
bool chains_available();

uint32_t chain_add(uint32_t value);                   // add $1
uint32_t chain_imul(uint32_t value, uint32_t factor); // 32-bit imul
uint32_t chain_sar(uint32_t value);                   // sar $15
float chain_mulss(float value, float factor);         // mulss
float chain_addss(float value, float term);           // addss
// The filters' own loop-carried steps: imul, sar, add / mulss, addss.
int32_t chain_filter_int(int32_t state, int32_t feedback, int32_t input);
float chain_filter_float(float state, float feedback, float input);
// The same paths with each step's output work beside them, as in the
// kernels: the output's imul of the new state, or its mulss and store.
int32_t chain_filter_int_output(int32_t state, int32_t feedback, int32_t input, int32_t gain);
float chain_filter_float_output(float state, float feedback, float input, float gain, float* sink);
