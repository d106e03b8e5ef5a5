// What one x86 instruction does, as far as the kernel check cares: which
// memory it reads and writes, which arithmetic it performs, and whether it
// is a packed or vector instruction.
#pragma once

#include "tools/kernel_check/disassembly.h"

#include <cstdint>
#include <string>
#include <vector>

struct MemoryAccess {
    std::string operand;
    bool write;
    uint32_t bytes; // 0 when the size cannot be told
};

struct InstructionKind {
    std::vector<MemoryAccess> accesses;
    bool compare;          // cmp, test, ucomiss, ...: sets the flags only
    bool conditional_jump; // j<cc>
    bool call;
    bool string_operation; // rep stos, movs, ...
    bool vector;           // packed or vector work (register copies excepted)
    bool fused;            // fused multiply-add
    bool x87;
    bool double_precision;
    uint32_t int_mul32; // 32-bit integer multiply
    uint32_t int_mul_other;
    uint32_t shift_right_arithmetic;
    uint32_t int_add;     // integer add of a register or memory value (not an immediate)
    uint32_t float_mul;   // scalar single-precision multiply
    uint32_t float_add;   // scalar single-precision add
    uint32_t float_other; // any other single-precision arithmetic
};

InstructionKind classify(const Instruction& instruction);
