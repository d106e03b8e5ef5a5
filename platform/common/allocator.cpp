// The allocator behind its test seam, and the thread-creation seam; portable,
// so shared by every platform.
#include "platform/platform_engine.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<uint32_t> fail_at{0};
std::atomic<uint32_t> calls{0};
std::atomic<uint32_t> failures{0};
std::atomic<int32_t> live{0};
std::atomic<uint32_t> thread_failures{0};
} // namespace

void alloc_seam_arm(uint32_t fail_at_call) {
    calls.store(0);
    failures.store(0);
    fail_at.store(fail_at_call);
}

AllocSeamStats alloc_seam_stats() {
    return AllocSeamStats{calls.load(), failures.load(), live.load()};
}

void* platform_alloc(size_t bytes) {
    uint32_t call = calls.fetch_add(1) + 1;
    uint32_t target = fail_at.load();
    if (target != 0 && call == target) {
        fail_at.store(0);
        failures.fetch_add(1);
        return nullptr;
    }
    void* block = std::malloc(bytes);
    if (block == nullptr) {
        failures.fetch_add(1);
        return nullptr;
    }
    live.fetch_add(1);
    return block;
}

void platform_free(void* block) {
    if (block == nullptr) {
        return;
    }
    live.fetch_sub(1);
    std::free(block);
}

void thread_seam_arm(uint32_t failures) {
    thread_failures.store(failures);
}

bool thread_seam_take_failure() {
    uint32_t left = thread_failures.load();
    while (left > 0) {
        if (thread_failures.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return false;
}
