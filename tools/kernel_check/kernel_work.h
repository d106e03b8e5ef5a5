// The work each measured kernel must do per sample, and the check of a
// disassembled kernel against it.
#pragma once

#include "tools/kernel_check/disassembly.h"

#include <cstdint>
#include <string>
#include <vector>

// What one loop of a kernel does per pass. Loads and stores count memory
// operands outside the stack frame (the rings, tracks and bus); reloads of
// spilled locals are counted apart.
struct LoopWork {
    uint64_t first_address;
    uint64_t last_address;
    uint32_t instructions;
    uint32_t loads;
    uint32_t stores;
    uint32_t stack_accesses;
    std::string order;           // 'L' and 'S' in the order the loop performs them
    std::vector<uint32_t> bytes; // size of each of those accesses (0: unknown)
    uint32_t int_mul32;
    uint32_t int_mul_other;
    uint32_t shift_right_arithmetic;
    uint32_t int_add;
    uint32_t float_mul;
    uint32_t float_add;
    uint32_t float_other;
    uint32_t wrap_tests; // compares other than the loop's own exit test
};

struct KernelVerdict {
    std::string name;
    uint32_t copies; // functions of that name found
    bool exact;      // does exactly its named work
    std::vector<std::string> faults;
    std::vector<LoopWork> loops;
};

// The four kernels, in report order.
constexpr uint32_t KERNEL_COUNT = 4;
extern const char* const KERNEL_NAMES[KERNEL_COUNT];

// True when `symbol` (mangled or plain) names the kernel function `name`.
bool names_kernel(const std::string& symbol, const std::string& name);

// Checks every function of the given name among `functions`.
KernelVerdict check_kernel(const std::vector<Function>& functions, uint32_t kernel);

// One paragraph per kernel: verdict, loop work, faults.
std::string describe(const KernelVerdict& verdict);
