// The plugins that each do one thing a host must survive or see: crash in
// run, at once or after CRASH_AFTER calls, hang, allocate, open a file or
// start a thread in run, hang in instantiate (always, or when its library
// was loaded before in the process), take 64 MB an instance, and print to
// the standard output and error.
#include "tests/plugins/test_plugin.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Past validation's warm-up blocks, well inside a trial's periods.
constexpr uint64_t CRASH_AFTER = 300;
// Above glibc's first mmap threshold, so that the kernel sees it too.
constexpr size_t ALLOCATE_BYTES = 1 << 20;
// The hungry plugin's own memory an instance, every page touched.
constexpr size_t HUNGRY_BYTES = size_t{64} << 20;

// Set as the library loads: whether it was loaded before in this process
// (the environment outlives an unloading, the library's memory does not).
bool mark_loaded() {
    const bool before = std::getenv("ZEM_TEST_LOADED") != nullptr;
    setenv("ZEM_TEST_LOADED", "1", 1);
    return before;
}
const bool LOADED_BEFORE = mark_loaded();
int* volatile nowhere = nullptr; // the crash's address, unknown to the compiler
volatile bool spinning = true;   // the hang's, never cleared
} // namespace

bool fault_instantiate(Plugin* plugin, double rate) {
    if (plugin->kind == HANG_OPEN || (plugin->kind == RELOAD && LOADED_BEFORE)) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    if (plugin->kind == PRINT) {
        std::printf("ZEM test print: instantiated at %.0f Hz\n", rate); // left in stdio's buffer
    }
    if (plugin->kind == HUNGRY) {
        plugin->block = std::malloc(HUNGRY_BYTES);
        if (plugin->block == nullptr) {
            return false;
        }
        std::memset(plugin->block, 1, HUNGRY_BYTES);
    }
    return true;
}

void fault_run(Plugin* plugin, uint32_t frames) {
    switch (plugin->kind) {
    case CRASH:
        *nowhere = 1;
        break;
    case CRASH_LATER:
        if (plugin->runs > CRASH_AFTER) {
            *nowhere = 1;
        }
        break;
    case HANG:
        while (spinning) {
        }
        break;
    case ALLOCATE:
        std::free(plugin->block);
        plugin->block = std::malloc(ALLOCATE_BYTES);
        if (plugin->block != nullptr) {
            static_cast<char*>(plugin->block)[0] = 1; // touched, so the allocation is real
        }
        break;
    case OPEN_FILE:
        if (std::FILE* file = std::fopen("/dev/null", "r")) {
            std::fclose(file);
        }
        break;
    case THREAD:
        if (!plugin->thread.joinable()) {
            plugin->thread = std::thread([plugin] {
                while (!plugin->stop.load()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        break;
    case PRINT:
        if (plugin->runs == 1) {
            std::fprintf(stderr, "ZEM test print: first run, %u frames\n", frames);
        }
        break;
    default:
        break;
    }
}

void fault_cleanup(Plugin* plugin) {
    plugin->stop.store(true);
    if (plugin->thread.joinable()) {
        plugin->thread.join();
    }
    std::free(plugin->block);
}
