#include "tools/kernel_check/kernel_work.h"

#include "tools/kernel_check/instruction_kinds.h"

#include <iterator>
#include <sstream>

const char* const KERNEL_NAMES[KERNEL_COUNT] = {"filter_int", "filter_float", "mix_add",
                                                "clear_block"};

namespace {
constexpr int32_t UNCOUNTED = -1;

struct LoopRule {
    const char* title;
    uint32_t loads;
    uint32_t stores;
    uint32_t bytes; // every load and store moves one sample of this size
    uint32_t int_mul32;
    uint32_t shift_right_arithmetic;
    int32_t int_add;
    uint32_t float_mul;
    uint32_t float_add;
    uint32_t wrap_tests;
    const char* order; // the accesses' order, up to rotation of the loop; or nullptr
};

struct KernelRule {
    uint32_t loop_count;
    LoopRule loops[2];
    bool accesses_only_in_loops;
};

// Per sample (per 8-byte group for clear_block), from the titles of the tests:
// filter_int  one load, two 32-bit multiplies (each followed by the Q15
//             shift), one add, one store, two wrap tests;
// filter_float one load, two single-precision multiplies, one add, one store,
//             two wrap tests;
// mix_add     two loads, one multiply, one add, one store;
// clear_block two 32-bit reads, then two 32-bit writes; a remainder byte
//             loop of one store.
const KernelRule RULES[KERNEL_COUNT] = {
    {1, {{"sample loop", 1, 1, 4, 2, 2, 1, 0, 0, 2, nullptr}}, false},
    {1, {{"sample loop", 1, 1, 4, 0, 0, UNCOUNTED, 2, 1, 2, nullptr}}, false},
    {1, {{"sample loop", 2, 1, 4, 0, 0, UNCOUNTED, 1, 1, 0, nullptr}}, false},
    {2,
     {{"8-byte group loop", 2, 2, 4, 0, 0, UNCOUNTED, 0, 0, 0, "LLSS"},
      {"remainder byte loop", 0, 1, 1, 0, 0, UNCOUNTED, 0, 0, 0, nullptr}},
     true},
};

struct LoopSpan {
    size_t first; // index of the loop head
    size_t last;  // index of the backward jump
};

std::string hex(uint64_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

size_t index_of(const Function& function, uint64_t address) {
    for (size_t i = 0; i < function.code.size(); ++i) {
        if (function.code[i].address == address) {
            return i;
        }
    }
    return function.code.size();
}

// Whether control can flow from instruction `from` to instruction `to`.
bool reaches(const Function& function, size_t from, size_t to) {
    const std::vector<Instruction>& code = function.code;
    std::vector<bool> seen(code.size(), false);
    std::vector<size_t> pending{from};
    while (!pending.empty()) {
        size_t at = pending.back();
        pending.pop_back();
        if (at >= code.size() || seen[at]) {
            continue;
        }
        if (at == to) {
            return true;
        }
        seen[at] = true;
        const Instruction& instruction = code[at];
        bool ends =
            instruction.mnemonic.rfind("jmp", 0) == 0 || instruction.mnemonic.rfind("ret", 0) == 0;
        if (!ends) {
            pending.push_back(at + 1);
        }
        if (instruction.mnemonic[0] == 'j' && instruction.has_target) {
            pending.push_back(index_of(function, instruction.target));
        }
    }
    return false;
}

// A loop is a backward jump that control reaches again from the jump's
// target (an out-of-line block that jumps back is not one).
std::vector<LoopSpan> find_loops(const Function& function) {
    std::vector<LoopSpan> loops;
    const std::vector<Instruction>& code = function.code;
    for (size_t i = 0; i < code.size(); ++i) {
        const Instruction& jump = code[i];
        if (jump.mnemonic[0] != 'j' || !jump.has_target || jump.target > jump.address) {
            continue;
        }
        size_t head = index_of(function, jump.target);
        if (head < code.size() && reaches(function, head, i)) {
            loops.push_back({head, i});
        }
    }
    return loops;
}

bool has_frame_pointer(const Function& function) {
    for (const Instruction& instruction : function.code) {
        const std::vector<std::string>& ops = instruction.operands;
        if (instruction.mnemonic.rfind("mov", 0) == 0 && ops.size() == 2 &&
            ((ops[0] == "%rsp" && ops[1] == "%rbp") || (ops[0] == "%esp" && ops[1] == "%ebp"))) {
            return true;
        }
    }
    return false;
}

bool on_stack(const std::string& operand, bool framed) {
    std::string base = base_register(operand);
    return base == "rsp" || base == "esp" || (framed && (base == "rbp" || base == "ebp"));
}

// A compare is the loop's own exit test when a conditional jump right after
// it closes the loop or leaves it; any other compare is a wrap test.
bool is_exit_test(const Function& function, LoopSpan span, size_t index) {
    if (index + 1 > span.last) {
        return false;
    }
    const Instruction& next = function.code[index + 1];
    if (!classify(next).conditional_jump) {
        return false;
    }
    uint64_t first = function.code[span.first].address;
    uint64_t last = function.code[span.last].address;
    return index + 1 == span.last || next.target < first || next.target > last;
}

LoopWork measure_loop(const Function& function, LoopSpan span, bool framed) {
    LoopWork work{};
    work.first_address = function.code[span.first].address;
    work.last_address = function.code[span.last].address;
    work.instructions = static_cast<uint32_t>(span.last - span.first + 1);
    for (size_t i = span.first; i <= span.last; ++i) {
        InstructionKind kind = classify(function.code[i]);
        for (const MemoryAccess& access : kind.accesses) {
            if (on_stack(access.operand, framed)) {
                work.stack_accesses += 1;
                continue;
            }
            (access.write ? work.stores : work.loads) += 1;
            work.order += access.write ? 'S' : 'L';
            work.bytes.push_back(access.bytes);
        }
        work.int_mul32 += kind.int_mul32;
        work.int_mul_other += kind.int_mul_other;
        work.shift_right_arithmetic += kind.shift_right_arithmetic;
        work.int_add += kind.int_add;
        work.float_mul += kind.float_mul;
        work.float_add += kind.float_add;
        work.float_other += kind.float_other;
        if (kind.compare && !is_exit_test(function, span, i)) {
            work.wrap_tests += 1;
        }
    }
    return work;
}

bool rotation_of(const std::string& order, const std::string& pattern) {
    return order.size() == pattern.size() && (pattern + pattern).find(order) != std::string::npos;
}

void expect_count(const char* what, uint32_t got, uint32_t wanted, const LoopRule& rule,
                  std::vector<std::string>* faults) {
    if (got != wanted) {
        faults->push_back(std::string(rule.title) + ": " + std::to_string(got) + " " + what +
                          ", expected " + std::to_string(wanted));
    }
}

void check_loop(const LoopWork& work, const LoopRule& rule, std::vector<std::string>* faults) {
    expect_count("loads", work.loads, rule.loads, rule, faults);
    expect_count("stores", work.stores, rule.stores, rule, faults);
    expect_count("32-bit integer multiplies", work.int_mul32, rule.int_mul32, rule, faults);
    expect_count("other integer multiplies", work.int_mul_other, 0, rule, faults);
    expect_count("arithmetic right shifts", work.shift_right_arithmetic,
                 rule.shift_right_arithmetic, rule, faults);
    if (rule.int_add != UNCOUNTED) {
        expect_count("integer adds", work.int_add, static_cast<uint32_t>(rule.int_add), rule,
                     faults);
    }
    expect_count("scalar single-precision multiplies", work.float_mul, rule.float_mul, rule,
                 faults);
    expect_count("scalar single-precision adds", work.float_add, rule.float_add, rule, faults);
    expect_count("other floating-point operations", work.float_other, 0, rule, faults);
    expect_count("wrap tests", work.wrap_tests, rule.wrap_tests, rule, faults);
    for (uint32_t bytes : work.bytes) {
        if (bytes != rule.bytes) {
            faults->push_back(std::string(rule.title) + ": a " + std::to_string(bytes) +
                              "-byte access, expected " + std::to_string(rule.bytes) + " bytes");
            break;
        }
    }
    if (rule.order != nullptr && !rotation_of(work.order, rule.order)) {
        faults->push_back(std::string(rule.title) + ": accesses in the order " + work.order +
                          ", expected " + rule.order);
    }
}

// Faults anywhere in the function, one line per kind with the first place:
// packed or vector work, fused multiply-adds, x87 or double-precision
// arithmetic, calls and string instructions; and arithmetic or (for
// clear_block) memory accesses left outside the loops, as peeling or an
// unrolled remainder would leave them.
struct FaultTally {
    const char* what;
    uint32_t count;
    std::string first;
};

bool inside_loops(const std::vector<LoopSpan>& spans, size_t index) {
    for (const LoopSpan& span : spans) {
        if (index >= span.first && index <= span.last) {
            return true;
        }
    }
    return false;
}

void check_whole_function(const Function& function, const std::vector<LoopSpan>& spans,
                          const KernelRule& rule, std::vector<std::string>* faults) {
    FaultTally tallies[] = {
        {"packed or vector instructions", 0, ""},
        {"fused multiply-adds", 0, ""},
        {"x87 or double-precision instructions", 0, ""},
        {"calls or string instructions (memset?)", 0, ""},
        {"arithmetic instructions outside the loop (peeled or unrolled copies)", 0, ""},
        {"memory accesses outside the loops", 0, ""}};
    bool framed = has_frame_pointer(function);
    for (size_t i = 0; i < function.code.size(); ++i) {
        const Instruction& instruction = function.code[i];
        InstructionKind kind = classify(instruction);
        bool outside = !inside_loops(spans, i);
        uint32_t arithmetic = kind.int_mul32 + kind.int_mul_other + kind.shift_right_arithmetic +
                              kind.float_mul + kind.float_add + kind.float_other +
                              (kind.fused ? 1 : 0);
        bool stray_access = false;
        for (const MemoryAccess& access : kind.accesses) {
            stray_access = stray_access || !on_stack(access.operand, framed);
        }
        bool found[] = {kind.vector,
                        kind.fused,
                        kind.x87 || kind.double_precision,
                        kind.call || kind.string_operation,
                        outside && arithmetic > 0,
                        outside && rule.accesses_only_in_loops && stray_access};
        for (size_t t = 0; t < std::size(tallies); ++t) {
            if (found[t] && tallies[t].count++ == 0) {
                tallies[t].first = instruction.mnemonic + " at " + hex(instruction.address);
            }
        }
    }
    for (const FaultTally& tally : tallies) {
        if (tally.count > 0) {
            faults->push_back(std::to_string(tally.count) + " " + tally.what + ", first " +
                              tally.first);
        }
    }
}

void check_function(const Function& function, const KernelRule& rule, KernelVerdict* verdict) {
    std::vector<LoopSpan> spans = find_loops(function);
    check_whole_function(function, spans, rule, &verdict->faults);
    bool framed = has_frame_pointer(function);
    for (const LoopSpan& span : spans) {
        verdict->loops.push_back(measure_loop(function, span, framed));
    }
    if (spans.size() != rule.loop_count) {
        verdict->faults.push_back(function.name + ": " + std::to_string(spans.size()) +
                                  " loops, expected " + std::to_string(rule.loop_count) +
                                  " (unrolled, split, versioned or removed)");
        return;
    }
    // clear_block: the group loop comes first unless the first loop stores bytes.
    size_t first = verdict->loops.size() - spans.size();
    if (rule.loop_count == 2 && !verdict->loops[first].bytes.empty() &&
        verdict->loops[first].bytes[0] == 1) {
        std::swap(verdict->loops[first], verdict->loops[first + 1]);
    }
    for (uint32_t i = 0; i < rule.loop_count; ++i) {
        check_loop(verdict->loops[first + i], rule.loops[i], &verdict->faults);
    }
}
} // namespace

bool names_kernel(const std::string& symbol, const std::string& name) {
    if (symbol == name || symbol == "_" + name) {
        return true;
    }
    std::string mangled = "Z" + std::to_string(name.size()) + name;
    size_t at = symbol.find(mangled);
    return at != std::string::npos && at <= 2 && symbol.size() > at + mangled.size();
}

KernelVerdict check_kernel(const std::vector<Function>& functions, uint32_t kernel) {
    KernelVerdict verdict{};
    verdict.name = KERNEL_NAMES[kernel];
    for (const Function& function : functions) {
        if (names_kernel(function.name, verdict.name)) {
            verdict.copies += 1;
            check_function(function, RULES[kernel], &verdict);
        }
    }
    if (verdict.copies == 0) {
        verdict.faults.push_back("not found");
    }
    verdict.exact = verdict.faults.empty();
    return verdict;
}

std::string describe(const KernelVerdict& verdict) {
    std::ostringstream text;
    text << verdict.name << ": " << (verdict.exact ? "exact" : "REJECTED") << "\n";
    for (const LoopWork& loop : verdict.loops) {
        text << "  loop " << hex(loop.first_address) << "-" << hex(loop.last_address) << ", "
             << loop.instructions << " instructions: " << loop.loads << " loads, " << loop.stores
             << " stores (" << (loop.order.empty() ? "-" : loop.order) << "), " << loop.int_mul32
             << " imul32, " << loop.shift_right_arithmetic << " sar, " << loop.int_add
             << " int add, " << loop.float_mul << " mulss, " << loop.float_add << " addss, "
             << loop.wrap_tests << " wrap tests, " << loop.stack_accesses << " stack accesses\n";
    }
    for (const std::string& fault : verdict.faults) {
        text << "  fault: " << fault << "\n";
    }
    return text.str();
}
