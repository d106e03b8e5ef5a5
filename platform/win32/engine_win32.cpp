// Engine operations on Windows: the performance counter, Sleep(0) as the
// yield, and Win32 threads.
#include "platform/platform_engine.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <new>

struct PlatformThread {
    HANDLE handle;
};

namespace {
// What the new thread is to run. The thread owns this record and frees it on
// entry, so that it never depends on the PlatformThread its starter keeps.
struct ThreadStart {
    WorkerEntry entry;
    void* parameter;
};

DWORD WINAPI thread_trampoline(LPVOID parameter) {
    auto* start = static_cast<ThreadStart*>(parameter);
    ThreadStart copy = *start;
    delete start;
    return static_cast<DWORD>(copy.entry(copy.parameter));
}
} // namespace

bool platform_counter_frequency(int64_t* frequency) {
    LARGE_INTEGER ticks_per_second{};
    if (!QueryPerformanceFrequency(&ticks_per_second) || ticks_per_second.QuadPart <= 0) {
        *frequency = 0;
        return false;
    }
    *frequency = ticks_per_second.QuadPart;
    return true;
}

int64_t platform_counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void platform_yield() {
    Sleep(0);
}

void platform_sleep_ms(uint32_t ms) {
    Sleep(ms);
}

PlatformThread* platform_thread_start(WorkerEntry entry) {
    return platform_thread_start_with(entry, nullptr);
}

PlatformThread* platform_thread_start_with(WorkerEntry entry, void* parameter) {
    if (thread_seam_take_failure()) {
        return nullptr;
    }
    auto* thread = new (std::nothrow) PlatformThread{};
    auto* start = new (std::nothrow) ThreadStart{entry, parameter};
    if (thread == nullptr || start == nullptr) {
        delete thread;
        delete start;
        return nullptr;
    }
    thread->handle = CreateThread(nullptr, 0, thread_trampoline, start, 0, nullptr);
    if (thread->handle == nullptr) {
        delete thread;
        delete start;
        return nullptr;
    }
    return thread;
}

void platform_thread_wait(PlatformThread* thread) {
    if (thread != nullptr) {
        WaitForSingleObject(thread->handle, INFINITE);
    }
}

void platform_thread_close(PlatformThread* thread) {
    if (thread == nullptr) {
        return;
    }
    CloseHandle(thread->handle);
    delete thread;
}

void* platform_shared_alloc(size_t bytes) {
    return calloc(1, bytes);
}

void platform_shared_free(void* block, size_t /*bytes*/) {
    free(block);
}

void platform_run_in_child(const ChildTask* task, ChildEnd* end, int* /*stop_signal*/) {
    *end = ChildEnd{};
    end->started = true;
    task->entry(task->parameter); // no fork here: the caller's own process runs it
}

void platform_child_stage(const char* /*stage*/, int64_t /*allowed_ms*/) {}

// Plugins run in place here: no child to limit, and no figure to show.
uint64_t platform_memory_available() {
    return 0;
}
uint64_t platform_memory_used() {
    return 0;
}
bool platform_limit_memory(uint64_t /*bytes*/) {
    return false;
}
