#include "tools/kernel_check/instruction_kinds.h"

#include <algorithm>

namespace {
const char* const GPR_BASES[] = {"mov", "add",  "sub",  "imul", "mul", "sar", "shr",   "shl",
                                 "sal", "cmp",  "test", "lea",  "and", "or",  "xor",   "inc",
                                 "dec", "neg",  "not",  "push", "pop", "adc", "sbb",   "xchg",
                                 "div", "idiv", "nop",  "call", "ret", "jmp", "movabs"};

const char* const SCALAR_SINGLE[] = {"movss",    "addss",     "subss",     "mulss",     "divss",
                                     "sqrtss",   "minss",     "maxss",     "ucomiss",   "comiss",
                                     "cvtsi2ss", "cvtsi2ssl", "cvtsi2ssq", "cvttss2si", "cvtss2si"};

const char* const SCALAR_DOUBLE[] = {"movsd",    "addsd",     "subsd",     "mulsd",     "divsd",
                                     "sqrtsd",   "ucomisd",   "comisd",    "cvtss2sd",  "cvtsd2ss",
                                     "cvtsi2sd", "cvtsi2sdl", "cvtsi2sdq", "cvttsd2si", "cvtsd2si"};

const char* const REGISTER_COPIES[] = {"movaps", "movapd", "movups", "movupd", "movdqa", "movdqu"};
const char* const ZEROING_IDIOMS[] = {"xorps", "xorpd", "pxor"};

template <size_t N> bool listed(const char* const (&list)[N], const std::string& word) {
    return std::any_of(std::begin(list), std::end(list),
                       [&word](const char* entry) { return word == entry; });
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool ends_with(const std::string& text, const char* suffix) {
    std::string tail(suffix);
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

uint32_t suffix_bytes(char suffix) {
    switch (suffix) {
    case 'b':
        return 1;
    case 'w':
        return 2;
    case 'l':
        return 4;
    case 'q':
        return 8;
    default:
        return 0;
    }
}

// "imull" -> "imul" with 4 bytes; "cmoveq" -> "cmov"; "movzbl" -> "movx"
// with the source's 1 byte. Anything else is returned unchanged.
std::string gpr_base(const std::string& mnemonic, uint32_t* bytes) {
    *bytes = 0;
    if (listed(GPR_BASES, mnemonic)) {
        return mnemonic;
    }
    if (starts_with(mnemonic, "cmov")) {
        return "cmov";
    }
    if (mnemonic.size() == 6 && (starts_with(mnemonic, "movz") || starts_with(mnemonic, "movs")) &&
        suffix_bytes(mnemonic[4]) != 0 && suffix_bytes(mnemonic[5]) != 0) {
        *bytes = suffix_bytes(mnemonic[4]);
        return "movx";
    }
    std::string stem = mnemonic.substr(0, mnemonic.size() - 1);
    if (mnemonic.size() > 1 && suffix_bytes(mnemonic.back()) != 0 && listed(GPR_BASES, stem)) {
        *bytes = suffix_bytes(mnemonic.back());
        return stem;
    }
    return mnemonic;
}

bool vector_register(const std::string& operand, const char* kind) {
    return starts_with(operand, kind);
}

bool any_operand(const Instruction& instruction, const char* kind) {
    return std::any_of(
        instruction.operands.begin(), instruction.operands.end(),
        [kind](const std::string& operand) { return vector_register(operand, kind); });
}

uint32_t sse_bytes(const std::string& base) {
    if (ends_with(base, "ss") || base == "movd") {
        return 4;
    }
    if (ends_with(base, "sd") || base == "movq") {
        return 8;
    }
    return 16;
}

// Which memory operands are read and written.
void find_accesses(const Instruction& instruction, const std::string& base, uint32_t bytes,
                   InstructionKind* kind) {
    const std::vector<std::string>& operands = instruction.operands;
    if (base == "lea" || starts_with(base, "nop") || starts_with(base, "prefetch") ||
        base[0] == 'j' || base == "call" || base == "ret") {
        return;
    }
    bool pure_write = starts_with(base, "mov") || base == "movx" || starts_with(base, "cvt") ||
                      starts_with(base, "set") || base == "pop";
    bool read_only = kind->compare || base == "push" || base == "bt" ||
                     ((base == "imul" || base == "mul" || base == "div" || base == "idiv") &&
                      operands.size() == 1);
    for (size_t i = 0; i < operands.size(); ++i) {
        if (!is_memory_operand(operands[i])) {
            continue;
        }
        bool destination = i + 1 == operands.size() && !read_only;
        if (!destination || !pure_write) {
            kind->accesses.push_back({operands[i], false, bytes});
        }
        if (destination) {
            kind->accesses.push_back({operands[i], true, bytes});
        }
    }
}

void classify_vector(const Instruction& instruction, const std::string& base,
                     InstructionKind* kind) {
    if (any_operand(instruction, "%ymm") || any_operand(instruction, "%zmm") ||
        any_operand(instruction, "%k")) {
        kind->vector = true;
        return;
    }
    bool xmm = any_operand(instruction, "%xmm") || any_operand(instruction, "%mm");
    if (listed(SCALAR_DOUBLE, base)) {
        kind->double_precision = true;
        return;
    }
    if (!xmm || listed(SCALAR_SINGLE, base)) {
        return;
    }
    const std::vector<std::string>& operands = instruction.operands;
    bool all_registers =
        std::all_of(operands.begin(), operands.end(),
                    [](const std::string& operand) { return is_register(operand); });
    bool same_register =
        std::all_of(operands.begin(), operands.end(),
                    [&operands](const std::string& operand) { return operand == operands[0]; });
    if (listed(REGISTER_COPIES, base) && all_registers) {
        return;
    }
    if (listed(ZEROING_IDIOMS, base) && same_register) {
        return;
    }
    kind->vector = true;
}

void classify_arithmetic(const Instruction& instruction, const std::string& base, uint32_t bytes,
                         InstructionKind* kind) {
    const std::vector<std::string>& operands = instruction.operands;
    if (base == "imul" || base == "mul") {
        (bytes == 4 ? kind->int_mul32 : kind->int_mul_other) += 1;
    } else if (base == "sar") {
        kind->shift_right_arithmetic += 1;
    } else if (base == "add" && operands.size() == 2 && !is_immediate(operands[0])) {
        kind->int_add += 1;
    } else if (base == "lea" && operands.size() == 2) {
        // "(%rax,%rcx,1)" adds two registers; "0x0(%esi,%eiz,1)" is padding.
        std::string address = operands[0];
        bool two_registers = std::count(address.begin(), address.end(), '%') == 2 &&
                             address.find("iz") == std::string::npos && address[0] == '(';
        kind->int_add += two_registers ? 1 : 0;
    } else if (base == "mulss") {
        kind->float_mul += 1;
    } else if (base == "addss") {
        kind->float_add += 1;
    } else if (base == "subss" || base == "divss" || base == "sqrtss" || base == "minss" ||
               base == "maxss") {
        kind->float_other += 1;
    }
}
} // namespace

InstructionKind classify(const Instruction& instruction) {
    InstructionKind kind{};
    const std::string& mnemonic = instruction.mnemonic;
    if (mnemonic.find("fmadd") != std::string::npos ||
        mnemonic.find("fmsub") != std::string::npos ||
        mnemonic.find("fnmadd") != std::string::npos ||
        mnemonic.find("fnmsub") != std::string::npos) {
        kind.fused = true;
        find_accesses(instruction, "fma", sse_bytes(mnemonic), &kind);
        return kind;
    }
    bool vex = mnemonic[0] == 'v' &&
               (any_operand(instruction, "%xmm") || any_operand(instruction, "%ymm") ||
                any_operand(instruction, "%zmm"));
    uint32_t bytes = 0;
    std::string base = gpr_base(vex ? mnemonic.substr(1) : mnemonic, &bytes);
    if (base[0] == 'f') {
        kind.x87 = true;
    }
    kind.call = base == "call";
    kind.conditional_jump = base[0] == 'j' && base != "jmp";
    kind.compare = base == "cmp" || base == "test" || base == "bt" || ends_with(base, "comiss") ||
                   ends_with(base, "comisd");
    kind.string_operation = !instruction.prefix.empty() && instruction.prefix.find("rep") == 0;
    for (const std::string& operand : instruction.operands) {
        kind.string_operation = kind.string_operation || operand.find("%es:") != std::string::npos;
    }
    bool sse = any_operand(instruction, "%xmm") || listed(SCALAR_SINGLE, base);
    if (sse && bytes == 0) {
        bytes = sse_bytes(base);
    }
    classify_vector(instruction, base, &kind);
    find_accesses(instruction, base, bytes, &kind);
    classify_arithmetic(instruction, base, bytes, &kind);
    return kind;
}
