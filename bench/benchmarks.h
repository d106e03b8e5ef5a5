// The benchmarks behind the report: each measures one thing per iteration,
// named below; the report reads the best time per iteration of each.
#pragma once

#include <cstdint>

// Blocks per iteration of the timed-loop benchmarks.
constexpr uint32_t LOOP_FILTER_BLOCKS = 100;
constexpr uint32_t LOOP_MIX_BLOCKS = 20;

// Per iteration: CHAIN_STEPS steps of a dependent chain.
inline const char* const CHAIN_ADD = "chain/add";
inline const char* const CHAIN_IMUL = "chain/imul";
inline const char* const CHAIN_SAR = "chain/sar";
inline const char* const CHAIN_MULSS = "chain/mulss";
inline const char* const CHAIN_ADDSS = "chain/addss";
inline const char* const CHAIN_FILTER_INT = "chain/imul+sar+add";
inline const char* const CHAIN_FILTER_FLOAT = "chain/mulss+addss";
inline const char* const CHAIN_FILTER_INT_OUTPUT = "chain/imul+sar+add,output_imul";
inline const char* const CHAIN_FILTER_FLOAT_OUTPUT = "chain/mulss+addss,output_mulss+store";
// Per iteration: one kernel call on one block, as the tests call them.
inline const char* const KERNEL_FILTER_INT = "kernel/filter_int";
inline const char* const KERNEL_FILTER_FLOAT = "kernel/filter_float";
inline const char* const KERNEL_MIX_ADD = "kernel/mix_add";
inline const char* const KERNEL_CLEAR_BLOCK = "kernel/clear_block";
// Per iteration: one bus block of the mix test (clear, 64 tracks), walking
// the whole bus and tracks; and the same traffic at memory speed.
inline const char* const MIX_BLOCK = "mix/block";
inline const char* const MIX_REFERENCE = "mix/memory_reference";
// Per iteration: one yield.
inline const char* const YIELD = "yield";
// Per iteration: the engine's timed loop for LOOP_*_BLOCKS blocks.
inline const char* const LOOP_FILTER_INT = "loop/filter_int";
inline const char* const LOOP_FILTER_FLOAT = "loop/filter_float";
inline const char* const LOOP_MIX = "loop/mix";
// Per iteration: the mix worker with its flag already 0: allocation, the
// 64 track signals, freeing.
inline const char* const MIX_PREPARATION = "mix/preparation";

void register_benchmarks();
