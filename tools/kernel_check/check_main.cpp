// kernel_disasm_check: disassembles built kernel objects and checks that
// each kernel's loop does exactly its named work.
//
//   kernel_disasm_check [--expect-rejection] OBJDUMP OBJECT...
//
// OBJDUMP is any GNU objdump that reads the objects (the native one, or a
// MinGW one for Windows objects); an OBJECT argument may hold several paths
// separated by ';' (as CMake passes a list). All four kernels must be found.
// Exit status: 0 when every kernel does exactly its work (with
// --expect-rejection: when at least one kernel is rejected), 1 otherwise,
// 2 on a usage error, an objdump failure or a kernel missing.
#include "tools/kernel_check/disassembly.h"
#include "tools/kernel_check/kernel_work.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr int EXIT_AS_EXPECTED = 0;
constexpr int EXIT_UNEXPECTED = 1;
constexpr int EXIT_USAGE = 2;

void split_list(const std::string& argument, std::vector<std::string>* paths) {
    std::istringstream parts(argument);
    std::string path;
    while (std::getline(parts, path, ';')) {
        if (!path.empty()) {
            paths->push_back(path);
        }
    }
}
} // namespace

int main(int argc, char** argv) {
    int next = 1;
    bool expect_rejection = next < argc && std::strcmp(argv[next], "--expect-rejection") == 0;
    next += expect_rejection ? 1 : 0;
    if (argc - next < 2) {
        std::fprintf(stderr, "usage: kernel_disasm_check [--expect-rejection] OBJDUMP OBJECT...\n");
        return EXIT_USAGE;
    }
    std::string objdump = argv[next];
    std::vector<std::string> objects;
    for (int i = next + 1; i < argc; ++i) {
        split_list(argv[i], &objects);
    }
    std::vector<Function> functions;
    for (const std::string& object : objects) {
        std::string error;
        if (!read_disassembly(objdump, object, &functions, &error)) {
            std::fprintf(stderr, "kernel_disasm_check: %s\n", error.c_str());
            return EXIT_USAGE;
        }
    }
    uint32_t exact = 0;
    bool missing = false;
    for (uint32_t kernel = 0; kernel < KERNEL_COUNT; ++kernel) {
        KernelVerdict verdict = check_kernel(functions, kernel);
        std::printf("%s", describe(verdict).c_str());
        exact += verdict.exact ? 1 : 0;
        missing = missing || verdict.copies == 0;
    }
    std::printf("%u of %u kernels do exactly their named work\n", exact, KERNEL_COUNT);
    if (missing) {
        return EXIT_USAGE;
    }
    bool as_expected = expect_rejection ? exact < KERNEL_COUNT : exact == KERNEL_COUNT;
    return as_expected ? EXIT_AS_EXPECTED : EXIT_UNEXPECTED;
}
