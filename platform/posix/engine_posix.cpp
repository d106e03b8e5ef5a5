// Engine operations on POSIX: the monotonic clock in nanoseconds as the
// counter (posix_clock.cpp), sched_yield, pthreads and shared memory (child
// processes: child_posix.cpp).
#include "platform/platform_engine.h"

#include "platform/posix/posix_clock.h"

#include <cerrno>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>

struct PlatformThread {
    pthread_t id;
    WorkerEntry entry;
    void* parameter;
};

namespace {
void* thread_trampoline(void* parameter) {
    auto* thread = static_cast<PlatformThread*>(parameter);
    thread->entry(thread->parameter);
    return nullptr;
}
} // namespace

bool platform_counter_frequency(int64_t* frequency) {
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) {
        *frequency = 0;
        return false;
    }
    *frequency = NS_PER_SECOND;
    return true;
}

int64_t platform_counter_now() {
    return monotonic_ns();
}

void platform_yield() {
    sched_yield();
}

void platform_sleep_ms(uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

PlatformThread* platform_thread_start(WorkerEntry entry) {
    return platform_thread_start_with(entry, nullptr);
}

PlatformThread* platform_thread_start_with(WorkerEntry entry, void* parameter) {
    if (thread_seam_take_failure()) {
        return nullptr;
    }
    auto* thread = new (std::nothrow) PlatformThread{};
    if (thread == nullptr) {
        return nullptr;
    }
    thread->entry = entry;
    thread->parameter = parameter;
    if (pthread_create(&thread->id, nullptr, thread_trampoline, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void platform_thread_wait(PlatformThread* thread) {
    if (thread != nullptr && thread->entry != nullptr) {
        pthread_join(thread->id, nullptr);
        thread->entry = nullptr; // joined: a second wait returns at once
    }
}

void platform_thread_close(PlatformThread* thread) {
    if (thread == nullptr) {
        return;
    }
    if (thread->entry != nullptr) {
        pthread_detach(thread->id);
    }
    delete thread;
}

void* platform_shared_alloc(size_t bytes) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void platform_shared_free(void* block, size_t bytes) {
    if (block != nullptr) {
        munmap(block, bytes);
    }
}
