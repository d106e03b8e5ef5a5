// The kernel check on 32-bit code, as the Windows build produces it: spilled
// locals reloaded from the stack are not ring accesses, and a changed loop is
// rejected. (The built kernels of every build pass through the checker, and
// ordinary optimised builds of them must be rejected: see tests/CMakeLists.txt.)
#include "tools/kernel_check/kernel_work.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// i686 filter_int as built with the kernel flags: five of its locals live on
// the stack.
const std::string I686_FILTER_INT = "00000000 <__Z10filter_intP14CircularFilterIiEj>:\n"
                                    "   0:\tpushl  %ebp\n"
                                    "   1:\tpushl  %edi\n"
                                    "   2:\tpushl  %esi\n"
                                    "   3:\tpushl  %ebx\n"
                                    "   4:\tsubl   $0x10,%esp\n"
                                    "   7:\tmovl   0x24(%esp),%edi\n"
                                    "   b:\tmovl   0xc(%edi),%esi\n"
                                    "   e:\tmovl   (%edi),%eax\n"
                                    "  10:\tmovl   0x4(%edi),%ebx\n"
                                    "  13:\tmovl   0x8(%edi),%ebp\n"
                                    "  16:\tmovl   0x1c(%edi),%ecx\n"
                                    "  19:\tmovl   0x20(%edi),%edx\n"
                                    "  1c:\tmovl   %esi,(%esp)\n"
                                    "  1f:\tmovl   0x10(%edi),%esi\n"
                                    "  22:\tmovl   %esi,0x4(%esp)\n"
                                    "  26:\tmovl   0x14(%edi),%esi\n"
                                    "  29:\tmovl   %esi,0x8(%esp)\n"
                                    "  2d:\tmovl   0x18(%edi),%esi\n"
                                    "  30:\tmovl   %esi,0xc(%esp)\n"
                                    "  34:\tmovl   0x28(%esp),%esi\n"
                                    "  38:\ttestl  %esi,%esi\n"
                                    "  3a:\tje     77 <__Z10filter_intP14CircularFilterIiEj+0x77>\n"
                                    "  3c:\txorl   %esi,%esi\n"
                                    "  3e:\tmovl   %ebx,%edi\n"
                                    "  40:\timull  %edi,%eax\n"
                                    "  43:\taddl   $0x4,%ecx\n"
                                    "  46:\tsarl   $0xf,%eax\n"
                                    "  49:\taddl   -0x4(%ecx),%eax\n"
                                    "  4c:\tcmpl   %ecx,(%esp)\n"
                                    "  4f:\tmovl   %eax,%ebx\n"
                                    "  51:\tcmovel 0x8(%esp),%ecx\n"
                                    "  56:\taddl   $0x4,%edx\n"
                                    "  59:\timull  %ebp,%ebx\n"
                                    "  5c:\tsarl   $0xf,%ebx\n"
                                    "  5f:\tcmpl   %edx,0x4(%esp)\n"
                                    "  63:\tcmovel 0xc(%esp),%edx\n"
                                    "  68:\taddl   $0x1,%esi\n"
                                    "  6b:\tmovl   %ebx,(%edx)\n"
                                    "  6d:\tcmpl   %esi,0x28(%esp)\n"
                                    "  71:\tjne    40 <__Z10filter_intP14CircularFilterIiEj+0x40>\n"
                                    "  73:\tmovl   0x24(%esp),%edi\n"
                                    "  77:\tmovl   %eax,(%edi)\n"
                                    "  79:\tmovl   %ecx,0x1c(%edi)\n"
                                    "  7c:\tmovl   %edx,0x20(%edi)\n"
                                    "  7f:\taddl   $0x10,%esp\n"
                                    "  82:\tpopl   %ebx\n"
                                    "  83:\tpopl   %esi\n"
                                    "  84:\tpopl   %edi\n"
                                    "  85:\tpopl   %ebp\n"
                                    "  86:\tretl\n";

KernelVerdict check_text(const std::string& text, uint32_t kernel) {
    std::vector<Function> functions;
    parse_disassembly(text, &functions);
    return check_kernel(functions, kernel);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

constexpr uint32_t FILTER_INT = 0;
} // namespace

TEST(KernelCheck, StackReloadsAreNotRingAccesses) {
    KernelVerdict verdict = check_text(I686_FILTER_INT, FILTER_INT);
    EXPECT_TRUE(verdict.exact) << describe(verdict);
    ASSERT_EQ(verdict.loops.size(), 1u);
    EXPECT_EQ(verdict.loops[0].stack_accesses, 5u);
}

TEST(KernelCheck, ALoadThroughAnotherRegisterIsARingLoad) {
    std::string text = replaced(I686_FILTER_INT, "cmovel 0x8(%esp),%ecx", "cmovel 0x8(%edi),%ecx");
    KernelVerdict verdict = check_text(text, FILTER_INT);
    EXPECT_FALSE(verdict.exact);
    EXPECT_EQ(verdict.loops[0].loads, 2u);
}

TEST(KernelCheck, ALostWrapTestOrMultiplyIsRejected) {
    std::string no_wrap = replaced(I686_FILTER_INT, "cmpl   %ecx,(%esp)", "nop");
    EXPECT_EQ(check_text(no_wrap, FILTER_INT).loops[0].wrap_tests, 1u);
    EXPECT_FALSE(check_text(no_wrap, FILTER_INT).exact);
    std::string wide = replaced(I686_FILTER_INT, "imull  %ebp,%ebx", "imulq  %rbp,%rbx");
    EXPECT_FALSE(check_text(wide, FILTER_INT).exact);
}
