// The kernel check on 32-bit code, as the Windows build produces it: spilled
// locals reloaded from the stack are not ring accesses, an out-of-line jump
// back is not a loop, and a changed loop is rejected.
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

// i686 clear_block: the short path jumps back to the remainder from the end.
const std::string I686_CLEAR_BLOCK = "00000040 <__Z11clear_blockPvj>:\n"
                                     "  40:\tpushl  %ebx\n"
                                     "  41:\tmovl   0xc(%esp),%ecx\n"
                                     "  45:\tmovl   0x8(%esp),%eax\n"
                                     "  49:\tmovl   %ecx,%edx\n"
                                     "  4b:\tshrl   $0x3,%edx\n"
                                     "  4e:\tje     90 <__Z11clear_blockPvj+0x50>\n"
                                     "  50:\tleal   (%eax,%edx,8),%edx\n"
                                     "  53:\tleal   0x0(%esi,%eiz,1),%esi\n"
                                     "  58:\tmovl   (%eax),%ebx\n"
                                     "  5a:\tmovl   0x4(%eax),%ebx\n"
                                     "  5d:\tmovl   $0x0,(%eax)\n"
                                     "  63:\taddl   $0x8,%eax\n"
                                     "  66:\tmovl   $0x0,-0x4(%eax)\n"
                                     "  6d:\tcmpl   %edx,%eax\n"
                                     "  6f:\tjne    58 <__Z11clear_blockPvj+0x18>\n"
                                     "  71:\tandl   $0x7,%ecx\n"
                                     "  74:\tje     8a <__Z11clear_blockPvj+0x4a>\n"
                                     "  76:\tmovl   %edx,%eax\n"
                                     "  78:\tleal   (%edx,%ecx,1),%edx\n"
                                     "  7b:\tleal   0x0(%esi,%eiz,1),%esi\n"
                                     "  80:\tmovb   $0x0,(%eax)\n"
                                     "  83:\taddl   $0x1,%eax\n"
                                     "  86:\tcmpl   %eax,%edx\n"
                                     "  88:\tjne    80 <__Z11clear_blockPvj+0x40>\n"
                                     "  8a:\tpopl   %ebx\n"
                                     "  8b:\tretl\n"
                                     "  8c:\tleal   0x0(%esi,%eiz,1),%esi\n"
                                     "  90:\tmovl   %eax,%edx\n"
                                     "  92:\tjmp    71 <__Z11clear_blockPvj+0x31>\n";

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
constexpr uint32_t CLEAR_BLOCK = 3;
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

TEST(KernelCheck, AnOutOfLineJumpBackIsNotALoop) {
    KernelVerdict verdict = check_text(I686_CLEAR_BLOCK, CLEAR_BLOCK);
    EXPECT_TRUE(verdict.exact) << describe(verdict);
    EXPECT_EQ(verdict.loops.size(), 2u);
}

TEST(KernelCheck, ClearBlockWritingBeforeReadingIsRejected) {
    std::string text = replaced(I686_CLEAR_BLOCK, "  5a:\tmovl   0x4(%eax),%ebx\n", "");
    text = replaced(text, "  63:\taddl   $0x8,%eax\n",
                    "  63:\tmovl   0x4(%eax),%ebx\n  64:\taddl   $0x8,%eax\n");
    KernelVerdict verdict = check_text(text, CLEAR_BLOCK);
    EXPECT_FALSE(verdict.exact);
    EXPECT_EQ(verdict.loops[0].order, "LSLS");
}

TEST(KernelCheck, ACallToMemsetIsRejected) {
    std::string text =
        replaced(I686_CLEAR_BLOCK, "  8a:\tpopl   %ebx", "  8a:\tcalll  8f <_memset>");
    EXPECT_FALSE(check_text(text, CLEAR_BLOCK).exact);
}

TEST(KernelCheck, NamesMatchMangledAndPlainSymbols) {
    EXPECT_TRUE(names_kernel("_Z10filter_intP14CircularFilterIiEj", "filter_int"));
    EXPECT_TRUE(names_kernel("__Z10filter_intP14CircularFilterIiEj", "filter_int"));
    EXPECT_TRUE(names_kernel("_mix_add", "mix_add"));
    EXPECT_FALSE(names_kernel("_Z12filter_floatP14CircularFilterIfEj", "filter_int"));
    EXPECT_FALSE(names_kernel("_ZN4test10filter_intEv", "filter_int"));
}
